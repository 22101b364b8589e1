// The protocol table: numbers, names and routes that every program relies on.
#include <gtest/gtest.h>

#include <set>

#include "lumo/catalogue/catalogue.h"
#include "lumo/protocol/protocol.h"

namespace lumo::protocol {
namespace {

TEST(ProtocolTable, NumbersAndNamesAreUniqueAndInTheApplicationRange) {
    std::set<std::uint32_t> numbers;
    std::set<std::string_view> names;
    for (const auto& m : messages()) {
        EXPECT_TRUE(numbers.insert(m.number).second) << m.name;
        EXPECT_TRUE(names.insert(m.name).second) << m.name;
        EXPECT_GE(m.number, 0x8000u) << m.name;
        EXPECT_LT(m.number, 0xC000u) << m.name;
        EXPECT_EQ(m.name.substr(0, 3), "WM_") << m.name;
        EXPECT_NE(m.routes, 0) << m.name;
        ASSERT_EQ(find_message(m.number), &m);
        EXPECT_EQ(message_name(m.number), m.name);
    }
    EXPECT_EQ(message_name(0x8000), "");
    EXPECT_EQ(find_message(0x8014), nullptr);
}

TEST(ProtocolTable, StateMessagesReachTheLockScreenOrTheServiceOnly) {
    for (const auto& m : messages()) {
        if (!(m.routes & kBroker)) continue;
        // A broker message either ends at the service or is forwarded to lumo; the listeners
        // only ever get what lumo gets too.
        if (m.routes & kToListeners) {
            EXPECT_TRUE(m.routes & kServiceToLock) << m.name;
        }
    }
    for (auto n : kAllStatesOrder) {
        ASSERT_NE(find_message(n), nullptr) << n;
        EXPECT_TRUE(find_message(n)->routes & kServiceToLock) << message_name(n);
    }
    for (auto n : kAllStatesZorp) EXPECT_TRUE(find_message(n)->routes & kBroker);
}

TEST(ProtocolTable, PrivateWindowMessagesDoNotClashWithEachOther) {
    const std::uint32_t settings[] = {
        settings_window::kLockSoundChanged,    settings_window::kUnlockSoundChanged,
        settings_window::kWallpaperChanged,    settings_window::kWallpaperLChanged,
        settings_window::kUnlockRunExeChanged, settings_window::kExceptionPicked,
        settings_window::kThemePicked};
    std::set<std::uint32_t> unique(std::begin(settings), std::end(settings));
    EXPECT_EQ(unique.size(), std::size(settings));
    EXPECT_NE(browser_window::kBrowse, browser_window::kGSensorChanged);
}

TEST(ProtocolTable, ProgramsAreFoundByDistinctWindowsAndExecutables) {
    std::set<std::u16string_view> windows, exes;
    for (std::size_t i = 0; i < kPrograms.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(kPrograms[i].program), i);
        EXPECT_TRUE(windows.insert(kPrograms[i].window).second);
        EXPECT_TRUE(exes.insert(kPrograms[i].exe).second);
    }
    EXPECT_EQ(window_name(Program::LockScreen), u"Lumo");
    EXPECT_EQ(exe_name(Program::Service), u"Vardex2.exe");
}

TEST(ProtocolTable, SwitchesMatchAsPrefixes) {
    EXPECT_TRUE(starts_with_switch(u"-password now", service_switch::kPassword));
    EXPECT_FALSE(starts_with_switch(u"-pass", service_switch::kPassword));
    EXPECT_FALSE(starts_with_switch(u"", lock_switch::kHide));
}

TEST(ProtocolTable, MailboxValuesAreCatalogueRowsOfTheirShape) {
    using catalogue::Shape;
    const std::pair<std::u16string_view, Shape> rows[] = {
        {mailbox::kIncomingName, Shape::Text},    {mailbox::kIncomingNumber, Shape::Text},
        {mailbox::kIncomingText, Shape::Text},    {mailbox::kDialNumber, Shape::Text},
        {mailbox::kStartText, Shape::Text},       {mailbox::kSleepTimer, Shape::Blob},
        {mailbox::kLastLockTime, Shape::Blob},    {mailbox::kTempExceptionExe, Shape::Text},
        {mailbox::kLoadTheme, Shape::Text},       {mailbox::kUserWeather, Shape::Text},
        {mailbox::kLastZorpControl, Shape::Byte}, {mailbox::kNotifiedVersion, Shape::Number}};
    for (auto [name, shape] : rows) {
        auto id = catalogue::find(name);
        ASSERT_TRUE(id);
        EXPECT_EQ(catalogue::setting(*id).shape, shape);
    }
    EXPECT_EQ(catalogue::setting(catalogue::Id::DialNumber).size, mailbox::kDialNumberMax + 1);
}

}  // namespace
}  // namespace lumo::protocol
