// The language pack sources: the key table (English texts and limits), the language list and the
// UTF-8 translations, turned into the UTF-16 lang.ini files the programs read.
#pragma once

#include <string>
#include <vector>

namespace lumo::theme {

struct LangKey {
    std::string key;   // with the trailing '='
    int max = 0;       // smallest buffer any program reads it into, terminating zero included
    std::string text;  // English, UTF-8
};

struct Language {
    std::string list_name;
    std::string display_name;
};

struct LangSources {
    std::vector<LangKey> keys;        // s_ and m_ keys in file order
    std::vector<Language> languages;  // the 40 rows of the language page
    std::string error;
};

LangSources read_lang_sources(const std::string& dir);

// key -> text pairs of one language, in the order of the key table followed by the l_ keys and
// s_ChangeLanguage; keys the translation leaves out keep English. Errors (unknown keys, texts
// longer than their buffer) are appended to `errors`.
std::vector<std::pair<std::string, std::string>> language_entries(const LangSources& src,
                                                                  const std::string& translation_file,
                                                                  std::vector<std::string>& errors);

// Number of UTF-16 code units of a UTF-8 text (the unit the programs' buffers count).
size_t utf16_length(const std::string& utf8);

// The lang.ini bytes: BOM, then "key=text" lines ending in CR LF, UTF-16LE.
std::string encode_lang_file(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace lumo::theme
