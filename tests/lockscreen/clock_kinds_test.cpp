// The three clock kinds from the theme's clock folders, the blank digit, the analogue hands and
// their quarter turns, the second clock's tap toggle, and the date line.
#include <algorithm>

#include "lock_fixture.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;

class Clock : public LockFixture {
protected:
    void start_with(std::u16string_view folder, LocalTime t) {
        set_text(u"ClockPath", folder);
        fake.set_local_time(t);
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    }
    // The clock files loaded by the last update, in order.
    std::vector<std::u16string> loaded_by_update(LocalTime t) {
        ctx->clock.loaded_files.clear();
        fake.set_local_time(t);
        update_clock(*ctx);
        return ctx->clock.loaded_files;
    }
    gfx::Image raw(std::u16string_view folder, std::u16string_view file) {
        gfx::Image img;
        gfx::LoadImageFile(img, ctx->screen, u"\\Program Files\\Lumo\\gfx\\" + std::u16string(folder) + std::u16string(file),
                           gfx::kFitNative, 0, 0);
        return img;
    }
};

TEST(ClockFileNames, CharactersMapToTheirPictures) {
    EXPECT_EQ(clock_file_char(u'7'), u'7');
    EXPECT_EQ(clock_file_char(u':'), u'C');
    EXPECT_EQ(clock_file_char(u' '), u'S');
    EXPECT_EQ(clock_file_char(u'.'), u'S');
    EXPECT_EQ(clock_file_char(u'P'), u'P');
    EXPECT_EQ(clock_file_char(u'x'), u'S');
}

TEST_F(Clock, CharacterClockAtNineOFiveUsesTheBlankDigit) {
    set_text(u"TimeFormat", u"  HH':'mm ");  // blanks at both ends are dropped
    start_with(u"clock\\", {2026, 12, 1, 7, 9, 5, 0, 0});
    EXPECT_EQ(ctx->clock.kind, ClockKind::Character);
    EXPECT_EQ(ctx->clock.format, u"HH':'mm");
    EXPECT_EQ(ctx->clock.last, u"09:05");
    EXPECT_EQ(ctx->clock.slot_chars.substr(0, 5), u"B9C05");
    // Centred: the widths plus a 3-unit gap each.
    int total = 0;
    for (auto& s : ctx->clock.slots) total += s.empty() ? 0 : s.width + 6;
    EXPECT_EQ(ctx->clock.x, (480 + 6 - total) / 2);
    // Only changed characters are loaded again.
    auto files = loaded_by_update({2026, 12, 1, 7, 9, 6, 0, 0});
    EXPECT_EQ(files, std::vector<std::u16string>{u"6.png"});
}

TEST_F(Clock, PlateClockAtNineOFiveUsesBlankAndItsColon) {
    start_with(u"clockD\\", {2026, 12, 1, 7, 9, 5, 0, 0});
    EXPECT_EQ(ctx->clock.kind, ClockKind::Plate);
    EXPECT_EQ(ctx->clock.format, u"hh':'mm");  // the device runs 12-hour time
    EXPECT_EQ(ctx->clock.slot_chars.substr(0, 5), u"B9D05");
    EXPECT_FALSE(ctx->clock.mark.empty()) << "the 12-hour mark";
    EXPECT_EQ(ctx->clock.height, ctx->clock.plate.height);
}

TEST_F(Clock, AnalogueHandsTurnByQuarters) {
    start_with(u"clockA\\", {2026, 12, 1, 7, 10, 20, 14, 0});
    EXPECT_EQ(ctx->clock.kind, ClockKind::Analogue);
    EXPECT_EQ(ctx->clock.format, u"Hmmss");
    auto cs14 = raw(u"clockA\\", u"cs14.png");
    EXPECT_EQ(ctx->clock.second_hand.width, cs14.width);
    EXPECT_EQ(ctx->clock.second_hand.height, cs14.height);
    EXPECT_EQ(ctx->clock.second_hand.at(cs14.width / 2, 1), cs14.at(cs14.width / 2, 1));

    auto files = loaded_by_update({2026, 12, 1, 7, 10, 20, 15, 0});
    EXPECT_EQ(files, std::vector<std::u16string>{u"cs0.png"}) << "the minute and hour hands stay";
    auto cs0 = raw(u"clockA\\", u"cs0.png");
    EXPECT_EQ(ctx->clock.second_hand.width, cs0.height);  // turned 90°
    EXPECT_EQ(ctx->clock.second_hand.height, cs0.width);

    files = loaded_by_update({2026, 12, 1, 7, 23, 59, 0, 0});
    EXPECT_NE(std::find(files.begin(), files.end(), u"ch14.png"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), u"cm14.png"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), u"cp.png"), files.end());
    EXPECT_EQ(ctx->clock.last_hour_pos, 59);
}

TEST_F(Clock, AMissingCharacterLeavesItsSlotEmptyAndTheRestCentred) {
    set_text(u"TimeFormat", u"H':'mm'x'");  // 'x' maps to S.png
    start_with(u"clock\\", {2026, 12, 1, 7, 9, 5, 0, 0});
    EXPECT_EQ(ctx->clock.slot_chars.substr(0, 5), u"9C05S");
    set_text(u"TimeFormat", u"H':'mm");
    // A letter without a picture (clock file "d.png" is not in the theme).
    ctx->clock.format = u"H'd'";
    ctx->clock.last.clear();
    update_clock(*ctx);
    EXPECT_TRUE(ctx->clock.slots[1].empty());
    EXPECT_EQ(ctx->clock.x, (480 + 6 - (ctx->clock.slots[0].width + 6)) / 2);
}

// Under the keypad only the small time follows the minutes; the big clock is right again the
// moment the keypad goes.
TEST_F(Clock, TheBigClockIsRightWhenTheKeypadCloses) {
    set_byte(u"PasswordLock", 1);
    {
        auto key = catalogue::open_root(fake.registry());
        const std::byte code[4] = {std::byte('1'), std::byte('2'), std::byte('3'), std::byte('4')};
        catalogue::write_blob(fake.registry(), key->key, u"SavedPassword", code);
    }
    set_number(u"PasswordTime", 0);
    set_byte(u"OffLCD", 0);  // no idle-off while the minute passes
    start_with(u"clock\\", {2026, 12, 1, 7, 9, 5, 30, 0});
    lock_now();
    ASSERT_EQ(ctx->clock.last, u"9:05");
    fake.run_for(2000);
    unlock_request(*ctx, false);
    ASSERT_EQ(ctx->state, ScreenState::PasswordEntry);
    fake.run_for(61000);  // 9:06:3x, the clock timer ticking all along
    ASSERT_EQ(ctx->state, ScreenState::PasswordEntry);
    EXPECT_EQ(ctx->clock.last_small, u"9:06");
    send(protocol::WM_AutoStartLocked);  // leaves the keypad at once
    ASSERT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->clock.last, u"9:06");
    EXPECT_EQ(ctx->clock.slot_chars.substr(0, 4), u"9C06") << "the big clock still shows the old time";
}

TEST_F(Clock, ATapOnTheClockSwitchesToTheSecondClockAndBack) {
    set_text(u"Clock2Path", u"clockA\\");
    start_with(u"clock\\", {2026, 12, 1, 7, 9, 5, 0, 0});
    lock_now();
    int y = gfx::ScaleUnit(ctx->screen, 40);
    send(WM_LBUTTONDOWN, 1, point(240, y));
    send(WM_LBUTTONUP, 0, point(245, y));
    EXPECT_EQ(ctx->clock.kind, ClockKind::Analogue);
    EXPECT_EQ(ctx->clock.fade, 0);
    send(WM_LBUTTONDOWN, 1, point(240, y));
    send(WM_LBUTTONUP, 0, point(240, y));
    EXPECT_EQ(ctx->clock.kind, ClockKind::Character);
    // A press that moves further than 20 units is no tap.
    send(WM_LBUTTONDOWN, 1, point(100, y));
    send(WM_LBUTTONUP, 0, point(200, y));
    EXPECT_EQ(ctx->clock.kind, ClockKind::Character);
}

TEST_F(Clock, ASecondFolderWithoutAClockIsIgnored) {
    set_text(u"Clock2Path", u"noclock\\");
    start_with(u"clock\\", {2026, 12, 1, 7, 9, 5, 0, 0});
    EXPECT_TRUE(ctx->settings.text(catalogue::Id::Clock2Path).empty());
}

// TextSize offers five sizes; anything above the largest is read as the largest.
class DateTextSize : public Clock, public ::testing::WithParamInterface<int> {};

TEST_P(DateTextSize, IsClampedToTheLargestOffered) {
    set_byte(u"TextSize", std::uint8_t(GetParam()));
    start_with(u"clock\\", {2026, 12, 1, 7, 23, 59, 58, 0});
    EXPECT_EQ(ctx->settings.num(catalogue::Id::TextSize), 4u);
    // "Largest" is a 20-unit font: the date line is that high, not a screenful.
    gfx::Image largest;
    gfx::RenderText(largest, ctx->screen, gfx::ScaleUnit(ctx->screen, 20), 500, 0xFFFFFF, ctx->clock.last_date,
                    gfx::kTextSingleLine, 0, 0, 0, 0, false, 0);
    EXPECT_EQ(ctx->clock.date.height, largest.height);
    EXPECT_LT(ctx->clock.date.width, 480);
}

INSTANTIATE_TEST_SUITE_P(AboveTheRange, DateTextSize, ::testing::Values(4, 5, 255),
                         [](const auto& i) { return "TextSize" + std::to_string(i.param); });

TEST_F(Clock, TheDateLineFollowsTheDayAndTheSystemLocale) {
    start_with(u"clock\\", {2026, 12, 1, 7, 23, 59, 58, 0});
    EXPECT_EQ(ctx->clock.last_date, u"Monday, 7 December");
    EXPECT_FALSE(ctx->clock.date.empty());
    fake.set_local_time({2026, 12, 2, 8, 0, 0, 1, 0});
    update_clock(*ctx);
    EXPECT_EQ(ctx->clock.last_date, u"Tuesday, 8 December");
    fake.registry().create_key(Root::LocalMachine, u"nls");
    fake.registry().set_dword(Root::LocalMachine, u"nls", u"DefaultLCID", 0x0407);
    load_settings(*ctx);
    update_clock(*ctx);
    EXPECT_EQ(ctx->clock.last_date, u"Dienstag, 8 Dezember");
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
