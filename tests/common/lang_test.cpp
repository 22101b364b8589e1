// lang.ini lookups on real files and the programs' key tables.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "lumo/lang/lang.h"
#include "lumo/platform/text.h"

namespace lumo::lang {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> utf16le(std::u16string_view s, bool bom = true) {
    std::vector<unsigned char> out;
    if (bom) out = {0xFF, 0xFE};
    for (char16_t c : s) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    return out;
}

LangFile file_of(std::u16string_view text, bool bom = true) {
    return LangFile::from_bytes(utf16le(text, bom));
}

class LangFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lumo-lang-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    void write_ini(const std::vector<unsigned char>& bytes) {
        std::ofstream(folder / "lang.ini", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    fs::path folder;
};

TEST_F(LangFolder, WithoutLangIniEveryTextIsItsDefault) {
    auto f = LangFile::open(folder);
    EXPECT_FALSE(f.present());
    Conditions all{true, false, true, true, true, true};
    for (auto table : {settings_general_keys(), settings_page_keys(), settings_language_keys(),
                       lockscreen_keys(), browser_keys()}) {
        auto texts = load(f, table, all);
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (!applies(table[i].condition, all)) continue;
            EXPECT_EQ(texts.at(i), table[i].default_text) << platform::to_utf8(table[i].key);
        }
    }
}

TEST_F(LangFolder, ATranslatedFileIsReadFromTheProgramFolder) {
    write_ini(utf16le(u"s_OK=Gut\r\nl_German=Deutsch (DE)\r\n"));
    auto f = LangFile::open(folder);
    ASSERT_TRUE(f.present());
    EXPECT_EQ(f.lookup(u"s_OK=", u"OK", 10), u"Gut");
    EXPECT_EQ(f.lookup(u"l_German=", u"Deutsch", 260), u"Deutsch (DE)");
    EXPECT_EQ(f.lookup(u"s_No=", u"No", 10), u"No");
}

TEST(LangLookup, TheTextAfterTheKeyUpToTheLineEnd) {
    auto f = file_of(u"s_No=Nein\r\ns_OK=\r\ns_Yes=Ja\r\n");
    EXPECT_EQ(f.lookup(u"s_Yes=", u"Yes", 10), u"Ja");
    EXPECT_EQ(f.lookup(u"s_OK=", u"OK", 10), u"") << "an empty text is not the default";
    EXPECT_EQ(f.lookup(u"s_Save=", u"Save", 10), u"Save");
    EXPECT_EQ(f.lookup(u"s_yes=", u"Yes", 10), u"Yes") << "keys are case sensitive";
}

TEST(LangLookup, LongTextsAreCutToOneLessThanTheMaximum) {
    const std::u16string sixty(60, u'x');
    auto f = file_of(u"s_Default=" + sixty + u"\r\n");
    EXPECT_EQ(f.lookup(u"s_Default=", u"Default", 50), std::u16string(49, u'x'));
    EXPECT_EQ(f.lookup(u"s_Default=", u"Default", 1), u"");
    EXPECT_EQ(f.lookup(u"s_Missing=", u"0123456789abc", 10), u"012345678") << "defaults too";
}

TEST(LangLookup, TheFirstLineThatContainsTheKeyWins) {
    auto f = file_of(u"s_Yes=Oui\r\ns_Yes=Ja\r\n");
    EXPECT_EQ(f.lookup(u"s_Yes=", u"Yes", 10), u"Oui");
    // The key may stand anywhere in the line, even inside another entry's text.
    auto g = file_of(u"s_Hint=press s_Yes=here\r\ns_Yes=Ja\r\n");
    EXPECT_EQ(g.lookup(u"s_Yes=", u"Yes", 10), u"here");
}

TEST(LangLookup, LfOnlyLinesKeepTheirLf) {
    auto f = file_of(u"s_No=Nein\ns_Yes=Ja\n");
    EXPECT_EQ(f.lookup(u"s_No=", u"No", 10), u"Nein\n");
    EXPECT_EQ(f.lookup(u"s_Yes=", u"Yes", 10), u"Ja\n");
}

TEST(LangLookup, ZeroAndCrStopTheText) {
    std::u16string text = u"s_A=ab";
    text.push_back(u'\0');
    text += u"cd\r\ns_B=x\ry\r\n";
    auto f = file_of(text);
    EXPECT_EQ(f.lookup(u"s_A=", u"-", 10), u"ab");
    EXPECT_EQ(f.lookup(u"s_B=", u"-", 10), u"x");
    // A key after a zero in its line is not seen there.
    std::u16string hidden = u"junk";
    hidden.push_back(u'\0');
    hidden += u"s_C=no\r\ns_C=yes\r\n";
    EXPECT_EQ(file_of(hidden).lookup(u"s_C=", u"-", 10), u"yes");
}

TEST(LangLookup, TheByteOrderMarkIsOptionalAndNeverPartOfAKey) {
    EXPECT_EQ(file_of(u"s_OK=Ok!\r\n", true).lookup(u"s_OK=", u"OK", 10), u"Ok!");
    EXPECT_EQ(file_of(u"s_OK=Ok!\r\n", false).lookup(u"s_OK=", u"OK", 10), u"Ok!");
}

TEST(LangLookup, LongLinesAreReadInPartsOf259) {
    // The key starts right at the second part of a long line and is found there ...
    std::u16string line(259, u'.');
    line += u"s_Found=yes\r\n";
    // ... while a key cut by the part boundary is not found at all.
    std::u16string split(255, u'.');
    split += u"s_Split=no\r\n";
    auto f = file_of(line + split, false);
    EXPECT_EQ(f.lookup(u"s_Found=", u"-", 10), u"yes");
    EXPECT_EQ(f.lookup(u"s_Split=", u"-", 10), u"-");
    // A text runs at most to the end of its part.
    std::u16string tail(250, u'.');
    tail += u"s_T=0123456789";
    EXPECT_EQ(file_of(tail, false).lookup(u"s_T=", u"-", 50), u"01234");
}

TEST(LangLookup, CorruptFilesNeverCrash) {
    // Odd byte count: the last byte is ignored.
    auto odd = utf16le(u"s_OK=Odd\r\n");
    odd.push_back(0x41);
    EXPECT_EQ(LangFile::from_bytes(odd).lookup(u"s_OK=", u"OK", 10), u"Odd");
    EXPECT_EQ(LangFile::from_bytes(std::vector<unsigned char>{0x73}).lookup(u"s_OK=", u"OK", 10),
              u"OK");
    EXPECT_EQ(LangFile::from_bytes({}).lookup(u"s_OK=", u"OK", 10), u"OK");
    // One huge line without any line end.
    std::u16string huge(200000, u'z');
    huge += u"s_OK=Far";
    EXPECT_EQ(file_of(huge).lookup(u"s_OK=", u"OK", 10), u"Far");
    // Random bytes: whatever comes out stays within the limit.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> bytes(rng() % 2000);
        for (auto& b : bytes) b = static_cast<unsigned char>(rng());
        auto f = LangFile::from_bytes(bytes);
        for (const auto& k : lockscreen_keys())
            EXPECT_LT(f.lookup(k.key, k.default_text, k.max_len).size(), k.max_len);
    }
}

TEST(LangBatches, TheLockScreenLoadsConditionalGroupsOnlyWhenTheyApply) {
    auto f = file_of(u"s_EnterPw=PIN\r\ns_S2UText=go\r\ns_CS2UText=open\r\n");
    auto values = catalogue::Values::defaults(protocol::Program::LockScreen, 0);
    auto plain = load(f, lockscreen_keys(), conditions_from(values, false));
    EXPECT_FALSE(plain.loaded(u"s_EnterPw="));
    EXPECT_EQ(plain.get(u"s_EnterPw="), u"");
    EXPECT_TRUE(plain.loaded(u"s_S2UText="));
    EXPECT_EQ(plain.get(u"s_S2UText="), u"go");
    EXPECT_FALSE(plain.loaded(u"s_CS2UText="));
    EXPECT_FALSE(plain.loaded(u"s_Unknown="));
    EXPECT_FALSE(plain.loaded(u"s_Vibrate="));
    EXPECT_FALSE(plain.loaded(u"s_ringer="));
    EXPECT_EQ(plain.get(u"s_Owner="), u"Owner:");

    values.set_num(catalogue::Id::PasswordLock, 1);
    values.set_num(catalogue::Id::SliderPosition, 1);
    values.set_num(catalogue::Id::CallerID, 2);
    values.set_num(catalogue::Id::VolumeControl, 1);
    auto full = load(f, lockscreen_keys(), conditions_from(values, true));
    EXPECT_EQ(full.get(u"s_EnterPw="), u"PIN");
    EXPECT_EQ(full.get(u"s_CS2UText="), u"open");
    EXPECT_FALSE(full.loaded(u"s_S2UText="));
    EXPECT_EQ(full.get(u"s_Unknown="), u"unknown");
    EXPECT_FALSE(full.loaded(u"s_SendSMS=")) << "SendBusySMS is off";
    EXPECT_EQ(full.get(u"s_vibrate="), u"vibrate");
    EXPECT_EQ(full.get(u"s_Vibrate="), u"Vibrate");

    values.set_num(catalogue::Id::SendBusySMS, 1);
    EXPECT_EQ(load(f, lockscreen_keys(), conditions_from(values, false)).get(u"s_BusySMSBody="),
              u"I'm busy right now. I'll call you back later.");
    values.set_num(catalogue::Id::CallerID, 0);
    EXPECT_FALSE(
        load(f, lockscreen_keys(), conditions_from(values, false)).loaded(u"s_BusySMSBody="));
}

TEST(LangTables, KeysAreWellFormedUniqueAndTheirDefaultsFit) {
    for (auto table : {settings_general_keys(), settings_page_keys(), settings_language_keys(),
                       lockscreen_keys(), browser_keys()}) {
        std::set<std::u16string_view> keys;
        for (const auto& k : table) {
            const auto name = platform::to_utf8(k.key);
            EXPECT_LT(k.default_text.size(), k.max_len) << name;
            if (k.key.empty()) continue;  // a fixed text
            EXPECT_TRUE(keys.insert(k.key).second) << "twice: " << name;
            EXPECT_EQ(k.key.back(), u'=') << name;
            const auto prefix = k.key.substr(0, 2);
            EXPECT_TRUE(prefix == u"s_" || prefix == u"m_" || prefix == u"l_") << name;
        }
    }
    EXPECT_EQ(settings_page_keys().size(), 127u);
    for (const auto& k : settings_page_keys()) EXPECT_EQ(k.max_len, 50);
}

TEST(LangTables, TheLanguagePageListsFortyLanguagesThenTheButton) {
    auto langs = languages();
    ASSERT_EQ(langs.size(), 40u);
    auto keys = settings_language_keys();
    ASSERT_EQ(keys.size(), 41u);
    for (std::size_t i = 0; i < langs.size(); ++i) {
        EXPECT_EQ(std::u16string(langs[i].key), u"l_" + std::u16string(langs[i].list_name) + u"=");
        EXPECT_EQ(keys[i].key, langs[i].key);
        EXPECT_EQ(keys[i].default_text, langs[i].display_name);
        EXPECT_EQ(keys[i].max_len, 260);
    }
    EXPECT_EQ(keys.back().key, u"s_ChangeLanguage=");
    EXPECT_EQ(langs[14].list_name, u"German");
    EXPECT_EQ(langs[14].display_name, u"Deutsch");
}

TEST(LangTables, FormatChoicesOnThePageAreTheCataloguesChoices) {
    auto texts = load(LangFile{}, settings_page_keys());
    auto choices = catalogue::setting(catalogue::Id::ClockPath).choices;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        auto key = u"s_DefaultClockPath" + std::u16string(1, char16_t(u'1' + i)) + u"=";
        EXPECT_EQ(texts.get(key), choices[i]);
    }
}

}  // namespace
}  // namespace lumo::lang
