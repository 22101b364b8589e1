// The alarm line and the appointment panel over the fake platform: the records the service
// writes, formatted with the day marks, the default formats and the lower-case am/pm marks the
// device's locale has, rendered into their slots (italics for what is over, wrapped boxes).
#include <algorithm>
#include <cstring>

#include "lock_fixture.h"
#include "lumo/gfx/screen.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
namespace pr = protocol;

struct Record {
    std::optional<std::u16string> subject;
    std::optional<LocalTime> start, end;
    bool all_day = false;
    std::u16string location;
    std::uint32_t occurred = 0;
};

class AppointmentPanelTest : public LockFixture {
protected:
    void SetUp() override {
        // Monday 2026-12-07 09:05, as the fixture's phone; the device's locale marks.
        fake.registry().set_string(Root::CurrentUser, u"ControlPanel\\International", u"s1159", u"am");
        fake.registry().set_string(Root::CurrentUser, u"ControlPanel\\International", u"s2359", u"pm");
        set_byte(u"ShowAppointment", 6);
        set_byte(u"DebugOn", 1);
    }

    void write(int n, const Record& r) {
        auto& reg = fake.registry();
        auto key = std::u16string(pr::kAppointmentsKey) + u"\\" + to_u16(std::to_string(n));
        reg.create_key(Root::CurrentUser, key);
        if (r.subject) reg.set_string(Root::CurrentUser, key, u"Subject", *r.subject);
        reg.set_string(Root::CurrentUser, key, u"Location", r.location);
        auto ft = [&](std::u16string_view name, const LocalTime& t) {
            std::uint64_t v = local_to_file_time(t);
            reg.set_binary(Root::CurrentUser, key, name, std::as_bytes(std::span(&v, 1)));
        };
        if (r.start) ft(u"StartTime", *r.start);
        if (r.end) ft(u"EndTime", *r.end);
        std::byte all_day{std::uint8_t(r.all_day ? 0xFF : 0)};
        reg.set_binary(Root::CurrentUser, key, u"AllDayEvent", {&all_day, 1});
        if (r.occurred) reg.set_dword(Root::CurrentUser, key, u"OccurredTimes", r.occurred);
    }

    void started() { ASSERT_EQ(start(u"-hide"), EntryResult::Running); }
    void update(int count) { send(pr::WM_UPDATEAPPOINTMENT, WParam(count), 0); }
    const AppointmentPanel& panel() { return ctx->appointments; }
    std::string subject(int n) { return to_utf8(panel().subject_text[n]); }
    std::string time(int n) { return to_utf8(panel().time_text[n]); }
};

LocalTime t(int d, int h = 0, int m = 0, int mo = 12) { return {2026, std::uint16_t(mo), 0, std::uint16_t(d), std::uint16_t(h), std::uint16_t(m), 0, 0}; }

TEST_F(AppointmentPanelTest, TimedAppointmentsUseTheDayMarksAndTheDefaultFormats) {
    started();
    write(0, {u"Dentist", t(8, 10), t(8, 11)});
    write(1, {u"Standup", t(7, 9, 30), t(7, 9, 45), false, u"Room 4"});
    write(2, {u"Review", t(10, 9), t(10, 10)});
    write(3, {u"Night shift", t(7, 23), t(8, 1)});
    write(4, {u"Call back", t(7, 16), t(7, 16)});
    write(5, {u"Flight", t(9, 22), t(10, 6)});
    update(6);
    EXPECT_EQ(subject(0), "Tomorrow: Dentist");
    EXPECT_EQ(time(0), "10:00a-11:00a");
    EXPECT_EQ(subject(1), "Standup");
    EXPECT_EQ(time(1), "9:30a-9:45a (Room 4)");
    EXPECT_EQ(time(2), "12/10/2026 9:00a-10:00a");
    EXPECT_EQ(time(3), "12/7/2026 11:00p-12/8/2026 1:00a");
    // A zero-length appointment shows only its start.
    EXPECT_EQ(time(4), "4:00p");
    EXPECT_EQ(time(5), "12/9/2026 10:00p-12/10/2026 6:00a");
    for (int n = 0; n < 6; ++n) {
        EXPECT_FALSE(panel().subject[n].empty()) << n;
        EXPECT_FALSE(panel().time[n].empty()) << n;
    }
    EXPECT_NE(log_text().find("AP0 Tomorrow: Dentist"), std::string::npos);
}

TEST_F(AppointmentPanelTest, AllDayEventsShowTheirDatesAndAges) {
    started();
    write(0, {u"Holiday", t(10), t(12), true});
    write(1, {u"Today off", t(7), t(8), true});
    write(2, {u"Ann", t(8), t(9), true, u"", 36});
    write(3, {u"Fair", t(14), t(15), true});
    write(4, {u"Meeting", t(7, 11), t(7, 12), false, u"", 5});
    update(5);
    EXPECT_EQ(time(0), "12/10/2026-12/11/2026");
    EXPECT_EQ(time(1), "");
    EXPECT_TRUE(panel().time[1].empty());
    EXPECT_EQ(subject(2), "Tomorrow: Ann (36)");
    EXPECT_EQ(time(2), "");
    EXPECT_EQ(time(3), "12/14/2026");
    // The age is for all-day events only.
    EXPECT_EQ(subject(4), "Meeting");
}

TEST_F(AppointmentPanelTest, WhatIsOverIsDrawnInItalics) {
    started();
    write(0, {u"Breakfast", t(7, 7), t(7, 8)});
    write(1, {u"Breakfast", t(7, 10), t(7, 11)});
    update(2);
    EXPECT_TRUE(panel().past[0]);
    EXPECT_FALSE(panel().past[1]);
    const auto& past = panel().subject[0];
    const auto& coming = panel().subject[1];
    ASSERT_FALSE(past.empty());
    ASSERT_EQ(past.height, coming.height);
    ASSERT_EQ(past.width, coming.width);
    const std::size_t n = std::size_t(past.width) * std::size_t(past.height);
    EXPECT_NE(std::memcmp(past.pixels.get(), coming.pixels.get(), n * 2), 0) << "the past subject looks the same";
    EXPECT_NE(std::memcmp(panel().time[0].pixels.get(), panel().time[1].pixels.get(),
                          std::size_t(panel().time[1].width) * std::size_t(std::min(panel().time[0].height, panel().time[1].height)) * 2),
              0);
}

TEST_F(AppointmentPanelTest, LongTextsWrapInThePanelAndLongWordsEndInAnEllipsis) {
    set_byte(u"AlignAppointment", 0);
    started();
    write(0, {u"Short", t(7, 10), t(7, 11)});
    write(1, {u"Quarterly planning with the whole regional sales team and the new suppliers from abroad",
              t(7, 12), t(7, 13)});
    write(2, {std::u16string(200, u'W'), t(7, 14), t(7, 15)});
    update(3);
    const int one_line = panel().subject[0].height;
    EXPECT_GE(panel().subject[1].height, 2 * one_line - 2);
    // A word wider than the panel stays on one line, cut with an ellipsis at the panel's width.
    EXPECT_LE(panel().subject[2].height, one_line + 1);
    const int width = ctx->screen_width - gfx::ScaleUnit(ctx->screen.dpi_x, 12);
    for (int n = 0; n < 3; ++n) EXPECT_EQ(panel().subject[n].width, width) << n;
    // Centred, the box is the screen's width.
    set_byte(u"AlignAppointment", 1);
    load_settings(*ctx);
    update(3);
    EXPECT_EQ(panel().subject[0].width, ctx->screen_width);
}

TEST_F(AppointmentPanelTest, AppointmentsThatWouldReachTheSliderBarAreLeftOut) {
    started();
    lock_now();
    ASSERT_TRUE(ctx->screen.back_buffer);
    const std::u16string long_subject = u"Quarterly planning with the whole regional sales team and suppliers";
    for (int n = 0; n < kAppointmentSlots; ++n) write(n, {long_subject, t(7, 10 + n), t(7, 11 + n)});
    update(kAppointmentSlots);
    const auto& scr = ctx->screen;
    auto pixel = [&](int x, int y) {
        return scr.back_buffer[std::size_t(scr.origin + y * (scr.ystep / 2) + x * (scr.xstep / 2))];
    };
    auto snapshot = [&] {
        std::vector<std::uint16_t> px;
        for (int y = 0; y < ctx->screen_height; ++y)
            for (int x = 0; x < ctx->screen_width; ++x) px.push_back(pixel(x, y));
        return px;
    };
    std::fill_n(scr.back_buffer.get(), scr.pixel_count, std::uint16_t(0));
    auto before = snapshot();
    ctx->appointments.fade = 32;
    draw_appointment_panel(*ctx);
    auto after = snapshot();
    const int bar = ctx->slider.bar_top;
    ASSERT_GT(bar, 0);
    int above = 0, below = 0;
    for (int y = 0; y < ctx->screen_height; ++y)
        for (int x = 0; x < ctx->screen_width; ++x) {
            std::size_t i = std::size_t(y) * ctx->screen_width + x;
            if (before[i] != after[i]) (y < bar ? above : below)++;
        }
    EXPECT_GT(above, 1000) << "the panel drew nothing";
    EXPECT_EQ(below, 0) << "the panel reached into the slider's bar";
}

TEST_F(AppointmentPanelTest, RecordsMissingValuesShowWhatTheyHave) {
    started();
    write(0, {std::nullopt, t(7, 10), t(7, 11)});
    write(1, {u"No times", std::nullopt, std::nullopt});
    write(2, {u"Odd", t(7, 10), t(7, 11)});
    // A start time of the wrong size counts as missing.
    std::uint32_t four = 1;
    fake.registry().set_binary(Root::CurrentUser, std::u16string(pr::kAppointmentsKey) + u"\\2", u"StartTime",
                               std::as_bytes(std::span(&four, 1)));
    update(8);
    EXPECT_TRUE(panel().subject[0].empty());
    EXPECT_EQ(time(0), "10:00a-11:00a");
    EXPECT_EQ(subject(1), "No times");
    EXPECT_TRUE(panel().time[1].empty());
    EXPECT_EQ(subject(2), "Odd");
    EXPECT_TRUE(panel().time[2].empty());
    EXPECT_EQ(panel().count, kAppointmentSlots);
}

TEST_F(AppointmentPanelTest, AlarmLineSaysTheTimeLeft) {
    set_byte(u"ShowAlarm", 1);
    started();
    auto set_alarm = [&](const LocalTime& when) {
        std::uint64_t v = local_to_file_time(when);
        fake.registry().create_key(Root::CurrentUser, u"System\\State\\Shell\\Alarms");
        fake.registry().set_binary(Root::CurrentUser, u"System\\State\\Shell\\Alarms", u"Next",
                                   std::as_bytes(std::span(&v, 1)));
        send(pr::WM_CHANGE_NEXTALARM, 0, 0);
    };
    set_alarm(t(8, 12, 5));
    EXPECT_EQ(to_utf8(panel().alarm_text), "12:05p (in 1 day 3 hours)");
    EXPECT_FALSE(panel().alarm.empty());
    set_alarm(t(8, 10, 5));
    EXPECT_EQ(to_utf8(panel().alarm_text), "10:05a (in 1 day 1 hour)");
    set_alarm(t(9, 9, 5));
    EXPECT_EQ(to_utf8(panel().alarm_text), "9:05a (in 2 days)");
    set_alarm({2026, 12, 0, 7, 9, 5, 59, 0});
    EXPECT_EQ(to_utf8(panel().alarm_text), "9:05a");
    set_alarm(t(7, 11, 6));
    EXPECT_EQ(to_utf8(panel().alarm_text), "11:06a (in 2 hours 1 minute)");
    fake.registry().delete_key(Root::CurrentUser, u"System\\State\\Shell\\Alarms");
    send(pr::WM_CHANGE_NEXTALARM, 0, 0);
    EXPECT_TRUE(panel().alarm.empty());
    EXPECT_NE(log_text().find("Change Next Alarm"), std::string::npos);
}

TEST_F(AppointmentPanelTest, AlarmSuffixUnitsAndLanguageTexts) {
    started();
    auto suffix = [&](std::int64_t s) { return to_utf8(alarm_suffix(*ctx, s)); };
    EXPECT_EQ(suffix(25 * 3600), " (in 1 day 1 hour)");
    EXPECT_EQ(suffix(48 * 3600), " (in 2 days)");
    EXPECT_EQ(suffix(59), "");
    EXPECT_EQ(suffix(-3600), "");
    EXPECT_EQ(suffix(60), " (in 1 minute)");
    EXPECT_EQ(suffix(3600 + 120), " (in 1 hour 2 minutes)");
    EXPECT_EQ(suffix(3 * 86400 + 2 * 3600 + 59 * 60), " (in 3 days 2 hours)");
}

TEST_F(AppointmentPanelTest, PanelOffReadsNothingAndTheFadeStartsOverOnReload) {
    started();
    write(0, {u"Dentist", t(8, 10), t(8, 11)});
    update(1);
    ASSERT_FALSE(panel().subject[0].empty());
    anim_ticks(3);
    draw_appointment_panel(*ctx);
    EXPECT_GT(panel().fade, 0);
    update(1);
    EXPECT_EQ(panel().fade, 0);
    set_byte(u"ShowAppointment", 0);
    load_settings(*ctx);
    update(1);
    EXPECT_TRUE(panel().subject[0].empty());
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
