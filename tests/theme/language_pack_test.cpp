// The staged lang.ini and LumoLanguagePack.zip: entry names, encoding, line ends, completeness,
// limits and the first-match lookup the programs use.
#include <gtest/gtest.h>
#include <unzip.h>

#include <map>
#include <set>

#include "lang_pack.h"
#include "theme_test_util.h"

namespace lumo::theme {
namespace {

const std::string kPack = test::stage("Program Files/Lumo/LumoLanguagePack.zip");

// The languages that must be translated, not only fall back to English.
const char* const kTranslated[] = {"German",  "French", "Spanish",           "Italian", "Portuguese",
                                   "Dutch",   "Russian", "ChineseSimplified", "Japanese"};

struct Line {
    std::u16string key, text, whole;
};

std::u16string ascii16(const std::string& s) { return {s.begin(), s.end()}; }

// Decodes a lang file as the programs read it; failures are reported against `name`.
std::vector<Line> parse(const std::string& name, const std::string& bytes) {
    std::vector<Line> lines;
    EXPECT_GE(bytes.size(), 2u) << name;
    if (bytes.size() < 2) return lines;
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << name << ": no UTF-16LE byte-order mark";
    EXPECT_EQ(bytes.size() % 2, 0u) << name << ": odd byte count";
    std::u16string all;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        all.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    size_t pos = 0;
    while (pos < all.size()) {
        size_t cr = all.find(u"\r\n", pos);
        EXPECT_NE(cr, std::u16string::npos) << name << ": last line does not end in CR LF";
        if (cr == std::u16string::npos) break;
        Line l;
        l.whole = all.substr(pos, cr - pos);
        EXPECT_EQ(l.whole.find_first_of(u"\r\n"), std::u16string::npos) << name << ": stray CR or LF";
        auto eq = l.whole.find(u'=');
        EXPECT_NE(eq, std::u16string::npos) << name << ": line without key";
        if (eq != std::u16string::npos) {
            l.key = l.whole.substr(0, eq + 1);
            l.text = l.whole.substr(eq + 1);
        }
        lines.push_back(l);
        pos = cr + 2;
    }
    return lines;
}

// The lookup of the programs: the first line that contains the key anywhere gives the text after it.
std::u16string lookup(const std::vector<Line>& lines, const std::u16string& key) {
    for (const Line& l : lines) {
        auto at = l.whole.find(key);
        if (at != std::u16string::npos) return l.whole.substr(at + key.size());
    }
    return u"<missing>";
}

class LanguagePack : public ::testing::Test {
protected:
    void SetUp() override {
        src_ = read_lang_sources(LUMO_LANG_DIR);
        ASSERT_TRUE(src_.error.empty()) << src_.error;
        unzFile zip = unzOpen64(kPack.c_str());
        ASSERT_NE(zip, nullptr) << kPack;
        for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
            char name[256];
            unz_file_info64 info;
            ASSERT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
            std::string bytes(info.uncompressed_size, '\0');
            ASSERT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
            EXPECT_EQ(unzReadCurrentFile(zip, bytes.data(), unsigned(bytes.size())), int(bytes.size())) << name;
            unzCloseCurrentFile(zip);
            EXPECT_FALSE(files_.count(name)) << name << " twice in the archive";
            files_[name] = bytes;
        }
        unzClose(zip);
        english_ = parse("English", files_["lang.English.ini"]);
        ASSERT_FALSE(english_.empty());
    }
    LangSources src_;
    std::map<std::string, std::string> files_;
    std::vector<Line> english_;
};

TEST_F(LanguagePack, HoldsOneFileNamedByListNameForEveryLanguage) {
    std::set<std::string> expected;
    for (const Language& l : src_.languages) expected.insert("lang." + l.list_name + ".ini");
    EXPECT_EQ(expected.size(), 40u);
    std::set<std::string> actual;
    for (const auto& [name, bytes] : files_) actual.insert(name);
    EXPECT_EQ(actual, expected);
}

TEST_F(LanguagePack, CaseInsensitiveLookupFindsTheEntries) {
    unzFile zip = unzOpen64(kPack.c_str());
    ASSERT_NE(zip, nullptr);
    for (const char* wanted : {"LANG.GERMAN.INI", "lang.serbian cyrilic.ini", "Lang.ChineseSimplified.INI"}) {
        ASSERT_EQ(unzLocateFile(zip, wanted, 2), UNZ_OK) << wanted;
        char name[256];
        unzGetCurrentFileInfo64(zip, nullptr, name, sizeof name, nullptr, 0, nullptr, 0);
        EXPECT_EQ(SDL_strcasecmp(name, wanted), 0) << name;
    }
    EXPECT_NE(unzLocateFile(zip, "lang.Klingon.ini", 2), UNZ_OK);
    unzClose(zip);
}

TEST_F(LanguagePack, InstalledLangIniIsTheEnglishFile) {
    EXPECT_EQ(test::file_bytes(test::stage("Program Files/Lumo/lang.ini")), files_["lang.English.ini"]);
    for (const LangKey& k : src_.keys) {
        auto text = lookup(english_, ascii16(k.key));
        EXPECT_EQ(utf16_length(k.text), text.size()) << k.key;
    }
}

TEST_F(LanguagePack, EveryFileCarriesEveryKeyOnce) {
    std::vector<std::u16string> keys;
    for (const Line& l : english_) keys.push_back(l.key);
    EXPECT_EQ(keys.size(), src_.keys.size() + src_.languages.size());
    for (const auto& [name, bytes] : files_) {
        auto lines = parse(name, bytes);
        std::vector<std::u16string> got;
        for (const Line& l : lines) got.push_back(l.key);
        EXPECT_EQ(got, keys) << name;
    }
}

// Every program reads a line into 260 characters and a text into its own buffer; longer ones
// would be cut or split, and a key inside another line would be found there first.
TEST_F(LanguagePack, TextsFitTheirBuffersAndEveryLookupFindsItsOwnLine) {
    std::map<std::u16string, int> limit;
    for (const LangKey& k : src_.keys) limit[ascii16(k.key)] = k.max;
    for (const auto& [name, bytes] : files_) {
        auto lines = parse(name, bytes);
        for (const Line& l : lines) {
            EXPECT_LE(l.whole.size(), 259u) << name << ": " << std::string(l.key.begin(), l.key.end());
            auto it = limit.find(l.key);
            int max = it == limit.end() ? 260 : it->second;
            EXPECT_LE(l.text.size(), size_t(max - 1)) << name << ": " << std::string(l.key.begin(), l.key.end());
            EXPECT_EQ(lookup(lines, l.key), l.text) << name << ": another line holds "
                                                     << std::string(l.key.begin(), l.key.end());
        }
    }
}

TEST_F(LanguagePack, MainLanguagesAreTranslated) {
    for (const char* lang : kTranslated) {
        auto lines = parse(lang, files_["lang." + std::string(lang) + ".ini"]);
        ASSERT_EQ(lines.size(), english_.size()) << lang;
        int words = 0, same = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::u16string& en = english_[i].text;
            // Format pictures, folder names and the language names stay as they are.
            bool word = english_[i].key.rfind(u"s_Default", 0) != 0 && english_[i].key.rfind(u"l_", 0) != 0 &&
                        en.size() > 3 && en.find(u"Zorp") == std::u16string::npos;
            if (!word) continue;
            ++words;
            same += lines[i].text == en;
        }
        EXPECT_LT(same * 10, words) << lang << ": " << same << " of " << words << " texts are still English";
    }
}

}  // namespace
}  // namespace lumo::theme
