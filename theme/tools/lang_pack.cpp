#include "lang_pack.h"

#include <SDL.h>

#include <charconv>
#include <fstream>
#include <map>
#include <set>

namespace lumo::theme {
namespace {

bool lines_of(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return true;
}

}  // namespace

size_t utf16_length(const std::string& utf8) {
    size_t n = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        n += (c >= 0xF0) ? 2 : 1;          // four-byte sequences need a surrogate pair
    }
    return n;
}

LangSources read_lang_sources(const std::string& dir) {
    LangSources src;
    std::vector<std::string> lines;
    if (!lines_of(dir + "/keys.txt", lines)) {
        src.error = "cannot read " + dir + "/keys.txt";
        return src;
    }
    std::set<std::string> seen;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty() || l[0] == '#') continue;
        auto t1 = l.find('\t'), t2 = t1 == std::string::npos ? t1 : l.find('\t', t1 + 1);
        LangKey k;
        if (t2 != std::string::npos) {
            k.key = l.substr(0, t1);
            k.text = l.substr(t2 + 1);
            auto digits = l.substr(t1 + 1, t2 - t1 - 1);
            std::from_chars(digits.data(), digits.data() + digits.size(), k.max);
        }
        if (k.key.size() < 3 || k.key.back() != '=' || k.max < 2 || !seen.insert(k.key).second) {
            src.error = dir + "/keys.txt:" + std::to_string(i + 1) + ": bad or repeated key";
            return src;
        }
        src.keys.push_back(k);
    }
    lines.clear();
    if (!lines_of(dir + "/languages.txt", lines)) {
        src.error = "cannot read " + dir + "/languages.txt";
        return src;
    }
    for (const auto& l : lines) {
        if (l.empty() || l[0] == '#') continue;
        auto tab = l.find('\t');
        if (tab == std::string::npos) {
            src.error = "languages.txt: no display name in \"" + l + "\"";
            return src;
        }
        src.languages.push_back({l.substr(0, tab), l.substr(tab + 1)});
    }
    if (src.keys.empty() || src.languages.empty()) src.error = "empty language sources in " + dir;
    return src;
}

std::vector<std::pair<std::string, std::string>> language_entries(const LangSources& src,
                                                                  const std::string& translation_file,
                                                                  std::vector<std::string>& errors) {
    // The language page's keys come after the table, as the settings program reads them last.
    std::vector<LangKey> all = src.keys;
    for (const auto& lang : src.languages) all.push_back({"l_" + lang.list_name + "=", 260, lang.display_name});
    std::map<std::string, std::string> translated;
    std::vector<std::string> lines;
    if (!translation_file.empty() && !lines_of(translation_file, lines))
        errors.push_back("cannot read " + translation_file);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty() || l[0] == '#') continue;
        auto eq = l.find('=');
        std::string key = eq == std::string::npos ? l : l.substr(0, eq + 1);
        bool known = false;
        for (const auto& k : all) known = known || k.key == key;
        if (!known) {
            errors.push_back(translation_file + ":" + std::to_string(i + 1) + ": unknown key " + key);
            continue;
        }
        translated[key] = l.substr(eq + 1);
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& k : all) {
        auto it = translated.find(k.key);
        std::string text = it == translated.end() ? k.text : it->second;
        // A longer text would be cut by the program that reads it.
        if (utf16_length(text) > size_t(k.max - 1))
            errors.push_back(translation_file + ": " + k.key + " is longer than " + std::to_string(k.max - 1) +
                             " characters: " + text);
        out.emplace_back(k.key, text);
    }
    return out;
}

std::string encode_lang_file(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string utf8;
    for (const auto& [key, text] : entries) utf8 += key + text + "\r\n";
    std::string out = "\xFF\xFE";
    if (utf8.empty()) return out;
    char* wide = SDL_iconv_string("UTF-16LE", "UTF-8", utf8.data(), utf8.size() + 1);
    if (!wide) return {};
    // The converted text ends in a two-byte zero that is not part of the file.
    size_t units = 0;
    while (wide[2 * units] != 0 || wide[2 * units + 1] != 0) ++units;
    out.append(wide, units * 2);
    SDL_free(wide);
    return out;
}

}  // namespace lumo::theme
