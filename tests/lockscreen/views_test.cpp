// The notification row and the views over the fake: counts and badges, where the row stands,
// taps on it, each view's box and texts, leaving a view, and what opens after the unlock.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "lock_fixture.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/platform/fake/fake_notify.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/store/shell_notifications.h"

namespace lumo::lockscreen::testing_support {
namespace {

using namespace platform;
using platform::fake::Launch;
namespace proto = protocol;
constexpr Root kCU = Root::CurrentUser, kLM = Root::LocalMachine;

// Contacts whose pictures are pictures of the staged theme, found by name or address.
class Pictures final : public gfx::ContactPictures {
public:
    std::optional<std::vector<std::uint8_t>> picture(std::u16string_view key, int kind) override {
        asked.emplace_back(key, kind);
        for (auto& [k, file] : known)
            if (k == key) {
                std::ifstream in(file, std::ios::binary);
                return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
            }
        return std::nullopt;
    }
    std::vector<std::pair<std::u16string, std::filesystem::path>> known;
    std::vector<std::pair<std::u16string, int>> asked;
};

class Views : public LockFixture {
protected:
    void started() {
        ASSERT_EQ(start(u"-hide"), EntryResult::Running);
        ASSERT_EQ(ctx->screen_width, 480);
        ctx->contacts = &pictures;
        lock_now();
        ASSERT_TRUE(ctx->locked);
        anim_ticks(2);
        seen.clear();
    }
    static int u(int n) { return 2 * n; }  // the fake display is a 192-dpi phone
    void count(std::uint32_t msg, std::uint32_t n) { send(msg, n, 0); }
    void tap(int x, int y) {
        send(WM_LBUTTONDOWN, 1, point(x, y));
        send(WM_LBUTTONUP, 0, point(x, y));
    }
    // The theme's notice.png: 9 cells of 26 × 28 units.
    static int cell() { return u(26); }
    int row_top() { return ctx->screen_height - (no_soft_key ? u(35) : u(60) + u(28)); }
    // The k-th icon drawn, counted from the right.
    int icon_x(int k) {
        double x = ctx->screen_width - u(30);
        for (int i = 0; i < k; ++i) x -= 1.2 * cell();
        return int(x);
    }
    void tap_icon(int k) { tap(icon_x(k) + cell() / 2, row_top() + u(10)); }
    void put(Root r, std::u16string_view key, std::u16string_view name, std::u16string_view v) {
        fake.registry().create_key(r, key);
        fake.registry().set_string(r, key, name, v);
    }
    void put(Root r, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        fake.registry().create_key(r, key);
        fake.registry().set_dword(r, key, name, v);
    }
    void put_time(std::u16string_view key, std::u16string_view name, std::uint64_t ft) {
        fake.registry().create_key(kCU, key);
        fake.registry().set_binary(kCU, key, name, std::as_bytes(std::span(&ft, 1)));
    }
    static std::uint64_t at(int day, int hour, int minute) {
        LocalTime t;
        t.year = 2026, t.month = 12, t.day = std::uint16_t(day), t.hour = std::uint16_t(hour),
        t.minute = std::uint16_t(minute);
        return local_to_file_time(t);
    }
    // The newest SMS as the service exports it.
    void export_sms(std::u16string_view sender, std::u16string_view text) {
        put(kCU, proto::kSmsKey, u"Sender", sender);
        put(kCU, proto::kSmsKey, u"Subject", text);
        put_time(proto::kSmsKey, u"Time", at(7, 8, 30));
    }
    std::filesystem::path theme_picture(const char* name) {
        return stage_dir() / "Program Files" / "Lumo" / "gfx" / name;
    }
    std::vector<Launch> launches() { return fake.launches(); }
    bool launched(std::u16string_view path, std::u16string_view args) {
        for (auto& l : fake.launches())
            if (l.path == path && l.arguments == args) return true;
        return false;
    }
    std::vector<WParam> seen_w(std::uint32_t msg) {
        std::vector<WParam> out;
        for (auto& s : service_seen())
            if (s.msg == msg) out.push_back(s.w);
        return out;
    }
    // The box lies wholly on the screen and above the slider bar.
    void expect_box_in_place() {
        auto& v = ctx->views;
        ASSERT_FALSE(v.box.empty());
        EXPECT_GE(v.box_y, 0);
        EXPECT_GE(v.box_x, 0);
        EXPECT_LE(v.box_x + v.box.width, ctx->screen_width);
        EXPECT_LE(v.box_y + v.box.height, ctx->screen_height - u(60));
        EXPECT_EQ(v.box_x, (ctx->screen_width - v.box.width) / 2);
    }
    // A colour field of the display's pixel, 0..31.
    int red(int x, int y) { return fake.display().pixel(x, y) >> 11; }
    int green(int x, int y) { return (fake.display().pixel(x, y) >> 6) & 31; }

    Pictures pictures;
    bool no_soft_key = false;
};

TEST_F(Views, CountsLightTheirIconsWithBadgesThatFadeInAndOut) {
    started();
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 3);
    count(proto::WM_CHANGE_MESSAGINGSMSUNREAD, 12);
    auto& v = ctx->views;
    EXPECT_EQ(v.counts[0], 3u);
    EXPECT_EQ(v.counts[2], 12u);
    EXPECT_EQ(v.badge_half[0], 0) << "below 10: the left half";
    EXPECT_EQ(v.badge_half[2], 1) << "from 10: the right half";
    EXPECT_FALSE(v.count_text[2].empty());
    // By 8 a frame: the icon to 24, the badge to 32.
    anim_ticks(1);
    EXPECT_EQ(v.icon_fade[2], 8);
    EXPECT_EQ(v.badge_fade[2], 8);
    anim_ticks(4);
    EXPECT_EQ(v.icon_fade[2], 24);
    EXPECT_EQ(v.badge_fade[2], 32);
    // The badges are red where they stand: the SMS rightmost, the missed calls next.
    for (int k : {0, 1}) {
        int bx = icon_x(k) + u(10), by = row_top() + u(17) + u(7);
        int reds = 0;
        for (int x = bx; x < bx + u(18); ++x) reds += red(x, by) > 20 && green(x, by) < 12;
        EXPECT_GT(reds, u(4)) << "badge " << k;
    }
    // A count of 0 fades both out and the slot leaves the row.
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 0);
    EXPECT_TRUE(v.count_text[0].empty());
    anim_ticks(1);
    EXPECT_EQ(v.icon_fade[0], 16);
    EXPECT_EQ(v.badge_fade[0], 24);
    anim_ticks(4);
    EXPECT_EQ(v.icon_fade[0], 0);
    EXPECT_EQ(v.badge_fade[0], 0);
    EXPECT_FALSE(views_animating(*ctx));
}

TEST_F(Views, MultimediaCountsOnlyWithShowMMSAndTasksOnlyWithShowTask) {
    set_byte(u"ShowTask", 0);
    started();
    count(proto::WM_CHANGE_MESSAGINGMMSUNREAD, 2);
    EXPECT_EQ(ctx->views.counts[3], 0u);
    count(proto::WM_CHANGE_TASKSACTIVE, 4);
    count(proto::WM_CHANGE_MESSAGINGSMSUNREAD, 1);
    anim_ticks(4);
    // Without ShowTask slot 8 is never drawn: the SMS icon is the rightmost one.
    EXPECT_EQ(ctx->views.icon_fade[8], 0);
    EXPECT_EQ(notification_row_left(*ctx), icon_x(0));
}

class RowPlace : public Views, public ::testing::WithParamInterface<bool> {};

TEST_P(RowPlace, TheRowStandsOnTheSliderBarOrLowerWithoutSoftKeys) {
    no_soft_key = GetParam();
    set_byte(u"NoSoftKey", no_soft_key ? 1 : 0);
    started();
    EXPECT_EQ(notification_row_top(*ctx), row_top());
    count(proto::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, 1);
    count(proto::WM_CHANGE_TASKSACTIVE, 2);  // ShowTask is on by default: slot 8 is the rightmost
    anim_ticks(3);
    // A tap just above the row does nothing; on the voicemail icon (second) it is pending.
    tap(icon_x(1) + cell() / 2, row_top() - 2);
    EXPECT_EQ(ctx->pending_action, 0);
    tap_icon(1);
    EXPECT_EQ(ctx->pending_action, 15);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::View);
    EXPECT_NE(log_text().find("UnreadAction 1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(SoftKeys, RowPlace, ::testing::Bool());

TEST_F(Views, ASecondTapTakesThePendingItemBack) {
    started();
    count(proto::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, 1);
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    anim_ticks(3);
    tap_icon(0);
    ASSERT_EQ(ctx->pending_action, 15);
    tap_icon(0);
    EXPECT_EQ(ctx->pending_action, 0);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::Lock);
    // Unlocking now opens nothing.
    send(proto::WM_Unlock, 0);
    EXPECT_TRUE(launches().empty());
}

TEST_F(Views, TheMessageViewShowsTheNewestSmsCutToTwentyLines) {
    set_byte(u"LockNotification", 1);
    set_byte(u"AutoMarkReadSMS", 1);
    started();
    pictures.known.emplace_back(u"Ada Lovelace", theme_picture("nopic.png"));
    std::u16string long_text;
    while (long_text.size() < 2000) long_text += u"word" + to_u16(std::to_string(long_text.size())) + u" ";
    export_sms(u"Ada Lovelace", long_text);
    count(proto::WM_CHANGE_MESSAGINGSMSUNREAD, 12);
    anim_ticks(3);
    tap_icon(0);
    // The tap asks for the view; it opens on the message timer.
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    fake.run_for(300);
    ASSERT_EQ(ctx->state, ScreenState::MessageView);
    auto& v = ctx->views;
    EXPECT_EQ(v.sender, u"Ada Lovelace");
    EXPECT_TRUE(v.has_picture);
    EXPECT_EQ(pictures.asked.back(), (std::pair<std::u16string, int>(u"Ada Lovelace", 4)));
    EXPECT_GT(v.text_lines, 3);
    EXPECT_LE(v.text_lines, 20);
    ASSERT_GT(v.body.size(), 3u);
    EXPECT_EQ(v.body.substr(v.body.size() - 3), u"...");
    EXPECT_EQ(long_text.substr(0, v.body.size() - 3), v.body.substr(0, v.body.size() - 3));
    EXPECT_EQ(v.hint, u"tap here to dismiss.");
    EXPECT_FALSE(v.time_line.empty());
    EXPECT_EQ(ctx->pending_action, 12);
    expect_box_in_place();
    // The box fades in by 6 a frame over the lock screen.
    int before = v.box_alpha;
    ASSERT_LT(before, 26);
    anim_ticks(1);
    EXPECT_EQ(v.box_alpha, before + 6);
    anim_ticks(6);
    EXPECT_EQ(v.box_alpha, 32);

    // Slide to view: the unlock opens the message through the service and marks it read.
    send(proto::WM_Unlock, 0);
    EXPECT_FALSE(ctx->locked);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(seen_w(proto::WM_OpenMessage), std::vector<WParam>{2});
    EXPECT_EQ(seen_w(proto::WM_MarkReadMessage), std::vector<WParam>{2});
    EXPECT_TRUE(launches().empty());
}

TEST_F(Views, WithoutAPictureTheSenderIsCentredAndAShortTextIsWhole) {
    set_byte(u"LockNotification", 1);
    started();
    export_sms(u"Bob", u"Short note");
    send(proto::WM_ShowMessage, 0);
    fake.run_for(300);
    ASSERT_EQ(ctx->state, ScreenState::MessageView);
    EXPECT_FALSE(ctx->views.has_picture);
    EXPECT_EQ(ctx->views.body, u"Short note");
    EXPECT_EQ(ctx->views.text_lines, 1);
    EXPECT_EQ(ctx->views.hint, u"tap here to cancel.");
    expect_box_in_place();
    // The sender stands centred: its ink is balanced around the box's middle.
    anim_ticks(8);
    int y0 = ctx->views.box_y + u(10), y1 = y0 + u(14);
    int left = ctx->screen_width, right = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = ctx->views.box_x + u(8); x < ctx->views.box_x + ctx->views.box.width - u(8); ++x)
            if (red(x, y) > 28 && green(x, y) > 28) left = std::min(left, x), right = std::max(right, x);
    ASSERT_LT(left, right);
    EXPECT_NEAR((left + right) / 2, ctx->screen_width / 2, u(4));
    // A tap on the box leaves it without reading anything (AutoMarkReadSMS is off).
    tap(ctx->screen_width / 2, ctx->views.box_y + ctx->views.box.height / 2);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_TRUE(seen_w(proto::WM_MarkReadMessage).empty());
    EXPECT_NE(log_text().find("Msg Unloading gfx"), std::string::npos);
    // The box fades out and is released.
    anim_ticks(7);
    EXPECT_TRUE(ctx->views.box.empty());
}

TEST_F(Views, AMessageThatCannotBeReadOpensNoView) {
    set_byte(u"LockNotification", 1);
    started();
    put(kCU, proto::kSmsKey, u"Subject", u"no sender");
    send(proto::WM_ShowMessage, 0);
    fake.run_for(300);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    // A time of the wrong size is left out; the view still opens.
    put(kCU, proto::kSmsKey, u"Sender", u"Eve");
    fake.registry().set_binary(kCU, proto::kSmsKey, u"Time", std::as_bytes(std::span("abc", 3)));
    send(proto::WM_ShowMessage, 0);
    fake.run_for(300);
    EXPECT_EQ(ctx->state, ScreenState::MessageView);
    EXPECT_TRUE(ctx->views.time_line.empty());
}

TEST_F(Views, AnEmailShowsItsAccountAndThePictureByAddress) {
    set_byte(u"LockNotification", 1);
    set_byte(u"AutoMarkReadEmail", 1);
    started();
    pictures.known.emplace_back(u"ada@example.com", theme_picture("unknown.png"));
    put(kCU, proto::kMessageKey, u"Account", u"Work");
    put(kCU, proto::kMessageKey, u"Sender", u"Ada");
    put(kCU, proto::kMessageKey, u"Email", u"ada@example.com");
    put(kCU, proto::kMessageKey, u"Subject", u"Minutes of the meeting");
    put_time(proto::kMessageKey, u"Time", at(7, 8, 0));
    auto n = fake.notify().add_shell_notification(store::kEmailNotificationClass);
    ASSERT_NE(n, 0u);
    send(proto::WM_ShowMessage, 2);
    fake.run_for(300);
    ASSERT_EQ(ctx->state, ScreenState::MessageView);
    EXPECT_EQ(ctx->views.account, u"Work");
    EXPECT_TRUE(ctx->views.has_picture);
    EXPECT_EQ(pictures.asked.back(), (std::pair<std::u16string, int>(u"ada@example.com", 2)));
    // Dismissed: read through the service, and the shell's bubble goes.
    tap(ctx->screen_width / 2, ctx->views.box_y + u(20));
    EXPECT_EQ(seen_w(proto::WM_MarkReadMessage), std::vector<WParam>{4});
    auto req = fake.notify().shell_requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].class_id, store::kEmailNotificationClass);
    EXPECT_EQ(req[0].number, n);
    EXPECT_TRUE(req[0].found);
    auto key = std::u16string(store::kShellNotificationsKey) + u"\\" + std::u16string(store::kEmailNotificationClass);
    EXPECT_FALSE(fake.registry().get_dword(kLM, key, to_u16(std::to_string(n))).has_value());
}

TEST_F(Views, WithoutLockNotificationTheMailProgramOpensTheInbox) {
    started();
    count(proto::WM_CHANGE_MESSAGINGSMSUNREAD, 2);
    anim_ticks(3);
    auto n = fake.notify().add_shell_notification(store::kSmsNotificationClass);
    tap_icon(0);
    EXPECT_EQ(ctx->state, ScreenState::Normal) << "no view without LockNotification";
    EXPECT_EQ(ctx->pending_action, 12);
    send(proto::WM_Unlock, 0);
    EXPECT_TRUE(launched(u"tmail.exe", u"-service \"SMS\" -open \"inbox\""));
    auto req = fake.notify().shell_requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].number, n);
    EXPECT_EQ(ctx->pending_action, 0);
}

TEST_F(Views, TheUsersOwnProgramComesFirst) {
    started();
    put(kCU, proto::kS2VExeKey, u"2File", u"\\Program Files\\Chat\\chat.exe");
    put(kCU, proto::kS2VExeKey, u"2Parameters", u"-inbox");
    count(proto::WM_CHANGE_MESSAGINGSMSUNREAD, 1);
    anim_ticks(3);
    tap_icon(0);
    send(proto::WM_Unlock, 0);
    auto l = launches();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].path, u"\\Program Files\\Chat\\chat.exe");
    EXPECT_EQ(l[0].arguments, u"-inbox");
    EXPECT_TRUE(l[0].shown);
}

TEST_F(Views, EachPendingSlotOpensItsProgram) {
    put(kLM, u"Software\\Apps\\WebIS FlexMail 4", u"InstallDir", u"\\Program Files\\FlexMail");
    put(kLM, u"Services\\Windows Live\\Paths", u"AppLauncher", u"\\Windows\\WLMLauncher.exe");
    struct Case {
        std::uint32_t msg;
        std::u16string path;
    };
    started();
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    for (const auto& k : {Case{proto::WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, u"cprog.exe"},
                          Case{proto::WM_CHANGE_FLEXMAILUNREAD, u"\\Program Files\\FlexMail\\flexmail.exe"},
                          Case{proto::WM_CHANGE_WLMUNREAD, u"\\Windows\\WLMLauncher.exe"}}) {
        SCOPED_TRACE(to_utf8(k.path));
        lock_now();
        count(k.msg, 1);
        anim_ticks(3);
        tap_icon(0);
        send(proto::WM_Unlock, 0);
        EXPECT_TRUE(launched(k.path, u""));
        count(k.msg, 0);
        anim_ticks(4);
    }
    // FlexMail without its install folder starts nothing.
    fake.registry().delete_key(kLM, u"Software\\Apps\\WebIS FlexMail 4");
    auto before = launches().size();
    lock_now();
    count(proto::WM_CHANGE_FLEXMAILUNREAD, 1);
    anim_ticks(3);
    tap_icon(0);
    EXPECT_EQ(ctx->pending_action, 16);
    send(proto::WM_Unlock, 0);
    EXPECT_EQ(launches().size(), before);
}

class MissedCalls : public Views {
protected:
    void add_call(std::uint64_t time, std::uint32_t flags, std::u16string number, std::u16string name,
                  std::u16string label = {}) {
        CallLogEntry e;
        e.time = time;
        e.end_time = time + 10'000'000;
        e.flags = flags | kCallLogEnded;
        e.number = std::move(number);
        e.name = std::move(name);
        e.number_label = std::move(label);
        fake.call_log().add(e);
    }
    // A phone window of class MSCprog that records what reaches it.
    void phone_program() {
        auto scope = fake.as_process(91);
        fake.windows().register_class(u"MSCprog", [this](Hwnd, std::uint32_t msg, WParam, LParam) -> LResult {
            phone_seen.push_back(msg);
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"MSCprog";
        cp.title = u"Phone";
        fake.windows().create_window(cp);
    }
    std::vector<std::uint32_t> phone_seen;
};

TEST_F(MissedCalls, TheNewestFiveWithTodayYesterdayAndOlderTimes) {
    set_byte(u"Slide2Dismiss", 1);
    set_byte(u"LockNotification", 1);
    pictures.known.emplace_back(u"Ada Lovelace", theme_picture("nopic.png"));
    add_call(at(1, 10, 0), 0, u"5550100", u"Old Friend");
    add_call(at(2, 10, 0), 0, u"5550101", u"");
    add_call(at(3, 10, 0), 0, u"", u"");
    add_call(at(4, 10, 0), 0, u"5550102", u"Dora");
    add_call(at(6, 22, 15), 0, u"", u"Network Name");
    add_call(at(7, 7, 0), kCallLogIncoming, u"5550103", u"Answered");
    add_call(at(7, 7, 30), kCallLogOutgoing, u"5550104", u"Dialled");
    add_call(at(7, 8, 45), 0, u"5550105", u"Ada Lovelace", u"Mobile");
    started();
    phone_program();
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 7);
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    anim_ticks(3);
    tap_icon(0);
    ASSERT_EQ(ctx->state, ScreenState::MissedCallView);
    EXPECT_EQ(ctx->pending_action, 14);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::DismissView);
    auto& m = ctx->views.missed;
    ASSERT_EQ(m.size(), 5u);
    EXPECT_TRUE(ctx->views.more);
    EXPECT_EQ(m[0].name, u"Ada Lovelace Mobile");
    EXPECT_EQ(m[0].time, u"8:45" + ctx->system_locale.am.substr(0, 1));
    EXPECT_TRUE(m[0].picture_found);
    EXPECT_EQ(m[1].name, u"Network Name");
    EXPECT_EQ(m[1].time, u"Yesterday");
    EXPECT_EQ(m[2].name, u"Dora");
    EXPECT_EQ(m[2].time, u"12/4/2026");
    EXPECT_FALSE(m[2].picture_found);
    EXPECT_EQ(m[3].name, u"unknown");
    EXPECT_EQ(m[4].name, u"5550101");
    EXPECT_TRUE(ctx->views.hint.empty()) << "Slide2Dismiss leaves the hint out";
    expect_box_in_place();
    auto log = log_text();
    EXPECT_NE(log.find("MissedCall loading gfx 7"), std::string::npos);
    EXPECT_NE(log.find("MissedCall loading gfx End 5"), std::string::npos);

    // The dismiss end clears the phone's missed-call count and goes back to the lock screen.
    put(kCU, u"System\\State\\Phone", u"Missed Call Count", 7);
    ctx->slider.knob_pos = ctx->slider.track_left + 1;
    set_knob_position(*ctx, ctx->slider.track_left);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(fake.registry().get_dword(kCU, u"System\\State\\Phone", u"Missed Call Count"), 0u);
    EXPECT_TRUE(ctx->locked);
    EXPECT_NE(log_text().find("Dismiss Notify 14"), std::string::npos);
}

TEST_F(MissedCalls, AfterTheUnlockThePhoneOpensItsCallHistory) {
    add_call(at(7, 8, 0), 0, u"5550105", u"Ada");
    started();
    phone_program();
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 1);
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    anim_ticks(3);
    tap_icon(0);
    ASSERT_EQ(ctx->state, ScreenState::MissedCallView);
    EXPECT_FALSE(ctx->views.more);
    EXPECT_EQ(ctx->views.hint, u"tap here to dismiss.");
    send(proto::WM_Unlock, 0);
    fake.run_until_idle();
    EXPECT_EQ(std::count(phone_seen.begin(), phone_seen.end(), 32794u), 1);
    EXPECT_EQ(fake.registry().get_dword(kCU, u"System\\State\\Phone", u"Missed Call Count"), 0u);
}

TEST_F(MissedCalls, AnUnreadableLogOpensNoView) {
    started();
    fake.call_log().broken = true;
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 2);
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    anim_ticks(3);
    tap_icon(0);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->pending_action, 0);
    EXPECT_NE(log_text().find("MissedCall loading -1"), std::string::npos);
}

TEST_F(Views, TheTaskListWithoutDatesBoldForHighAndDotsBeyondFive) {
    set_byte(u"AppointmentDateFormat", 0);
    started();
    auto task = [&](int i, std::u16string subject, std::optional<std::uint64_t> due, std::uint32_t importance) {
        auto key = std::u16string(proto::kTasksKey) + u"\\" + to_u16(std::to_string(i));
        put(kCU, key, u"Subject", subject);
        if (due) put_time(key, u"DueDate", *due);
        put(kCU, key, u"Importance", importance);
    };
    task(1, u"Buy milk", std::nullopt, 1);
    task(2, u"File taxes", at(9, 0, 0), 2);
    task(3, u"No date at all", std::uint64_t(0x0CB34557) << 32 | 0x12345678, 1);
    put(kCU, proto::kTasksKey, u"TaskCount", 3);
    count(proto::WM_CHANGE_TASKSACTIVE, 3);
    anim_ticks(3);
    tap_icon(0);
    ASSERT_EQ(ctx->state, ScreenState::TaskView);
    EXPECT_EQ(ctx->pending_action, 18);
    auto& v = ctx->views;
    ASSERT_EQ(v.task_lines.size(), 3u);
    EXPECT_EQ(v.task_lines[0], u"Buy milk");
    EXPECT_EQ(v.task_lines[1], u"12/9/2026: File taxes");
    EXPECT_EQ(v.task_lines[2], u"No date at all");
    EXPECT_EQ(v.task_bold, (std::vector<bool>{false, true, false}));
    EXPECT_FALSE(v.more);
    EXPECT_EQ(v.hint, u"tap here to cancel.");
    expect_box_in_place();
    send(proto::WM_Unlock, 0);
    EXPECT_TRUE(launched(u"tasks.exe", u""));

    // Seven tasks: five lines and "...".
    for (int i = 4; i <= 7; ++i) task(i, u"Task " + to_u16(std::to_string(i)), std::nullopt, 0);
    put(kCU, proto::kTasksKey, u"TaskCount", 7);
    lock_now();
    count(proto::WM_CHANGE_TASKSACTIVE, 7);
    anim_ticks(3);
    tap_icon(0);
    ASSERT_EQ(ctx->state, ScreenState::TaskView);
    EXPECT_EQ(v.task_lines.size(), 5u);
    EXPECT_TRUE(v.more);
    // No tasks exported: no view.
    tap_icon(0);  // takes the pending item back
    put(kCU, proto::kTasksKey, u"TaskCount", 0);
    tap_icon(0);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
}

class Reminder : public Views {
protected:
    void reminder(std::u16string time, std::u16string location, std::u16string description) {
        put(kCU, u"System\\State\\Shell\\Reminders", u"Active", u"Reminder1");
        auto key = std::u16string(u"System\\State\\Shell\\Reminders\\Reminder1");
        put(kCU, key, u"Time", time);
        put(kCU, key, u"Location", location);
        put(kCU, key, u"Description", description);
    }
    // The shell's notification window, recording what reaches it.
    void shell_window() {
        auto scope = fake.as_process(92);
        fake.windows().register_class(u"WinCENotify", [this](Hwnd, std::uint32_t msg, WParam w, LParam l) -> LResult {
            if (msg == WM_COMMAND) commands.emplace_back(w, l);
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"WinCENotify";
        cp.title = u"WinCENotify";
        fake.windows().create_window(cp);
    }
    std::vector<std::pair<WParam, LParam>> commands;
};

TEST_F(Reminder, TheActiveReminderOpensAndDismissingItTellsTheShell) {
    set_byte(u"AutoDismissNotification", 1);
    set_byte(u"LockNotification", 1);
    reminder(u"10:00a", u"Room 4", u"Bring the slides");
    started();
    shell_window();
    send(proto::WM_ShowNotification, 1);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    EXPECT_EQ(ctx->views.title, u"10:00a\r\n(Room 4)");
    EXPECT_EQ(ctx->views.body, u"Bring the slides");
    EXPECT_EQ(ctx->views.hint, u"tap here to dismiss.");
    EXPECT_EQ(ctx->pending_action, 11);
    expect_box_in_place();
    tap(ctx->screen_width / 2, ctx->views.box_y + u(12));
    fake.run_until_idle();
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].first, 0x200Bu);
    EXPECT_EQ(commands[0].second, 0xF000);
    EXPECT_NE(log_text().find("Nt Unloading gfx"), std::string::npos);
}

TEST_F(Reminder, WithoutAutoDismissTheShellIsLeftAloneAndTheUnlockShowsItAgain) {
    reminder(u"", u"Room 4", u"");
    started();
    shell_window();
    auto n = fake.notify().add_shell_notification(store::kReminderNotificationClass);
    send(proto::WM_ShowNotification, 1);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    EXPECT_EQ(ctx->views.title, u"Room 4");
    EXPECT_EQ(ctx->views.hint, u"tap here to cancel.");
    send(proto::WM_Unlock, 0);
    fake.run_until_idle();
    EXPECT_TRUE(commands.empty());
    auto req = fake.notify().shell_requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_TRUE(req[0].show);
    EXPECT_EQ(req[0].number, n);
    EXPECT_NE(log_text().find("Refresh Notification a=" + std::to_string(n)), std::string::npos);
}

TEST_F(Reminder, ALongDescriptionStaysInsideTheBoxOnASmallScreen) {
    fake.display().screen = {240, 320, 96, 96};
    fake.display().pitch_pixels = 240;
    fake.display().resize();
    auto gfx = root / "Program Files" / "Lumo" / "gfx";
    std::filesystem::remove(gfx);
    std::filesystem::create_directory_symlink(stage_dir() / "Program Files" / "Lumo" / "gfx96", gfx);
    std::u16string text;
    for (int i = 0; i < 80; ++i) text += u"description ";
    reminder(u"10:00a", u"A very long location name that will not fit on one line of the box at all", text);
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    lock_now();
    send(proto::WM_ShowNotification, 1);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    auto& v = ctx->views;
    ASSERT_FALSE(v.box.empty());
    EXPECT_GE(v.box_y, 0);
    EXPECT_LE(v.box_y + v.box.height, ctx->screen_height - 60);
    EXPECT_LE(v.text_lines, 10);
    EXPECT_EQ(v.body.substr(v.body.size() - 3), u"...");
}

TEST_F(Reminder, ACountOfNoneClosesTheReminderView) {
    reminder(u"10:00a", u"", u"Call back");
    started();
    send(proto::WM_ShowNotification, 1);
    fake.run_for(500);
    ASSERT_EQ(ctx->state, ScreenState::NotificationView);
    count(proto::WM_CHANGE_REMINDER, 0);
    EXPECT_EQ(ctx->state, ScreenState::Normal);
    EXPECT_EQ(ctx->pending_action, 0);
    EXPECT_EQ(ctx->slider_texts, SliderTexts::Lock);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support

namespace lumo::lockscreen::testing_support {
namespace {

TEST_F(Views, ATurnedScreenGetsTheBoxBuiltAgainInPlace) {
    set_byte(u"LockNotification", 1);
    started();
    export_sms(u"Ada", u"Turn me");
    send(proto::WM_ShowMessage, 0);
    fake.run_for(300);
    ASSERT_EQ(ctx->state, ScreenState::MessageView);
    fake.display().orientation = 90;
    send(WM_WINDOWPOSCHANGED);
    ASSERT_EQ(ctx->screen_width, 800);
    EXPECT_EQ(ctx->state, ScreenState::MessageView);
    EXPECT_EQ(ctx->pending_action, 12);
    expect_box_in_place();
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support

namespace lumo::lockscreen::testing_support {
namespace {

TEST_F(MissedCalls, ALandscapeSmallScreenListsWhatFitsAndDotsForTheRest) {
    fake.display().screen = {240, 320, 96, 96};
    fake.display().pitch_pixels = 240;
    fake.display().resize();
    fake.display().orientation = 90;
    auto gfx = root / "Program Files" / "Lumo" / "gfx";
    std::filesystem::remove(gfx);
    std::filesystem::create_directory_symlink(stage_dir() / "Program Files" / "Lumo" / "gfx96", gfx);
    for (int i = 0; i < 7; ++i) add_call(at(7, 8, i), 0, u"555010" + to_u16(std::to_string(i)), u"");
    ASSERT_EQ(start(u"-hide"), EntryResult::Running);
    ASSERT_EQ(ctx->screen_height, 240);
    lock_now();
    count(proto::WM_CHANGE_PHONEMISSEDCALLS, 7);
    count(proto::WM_CHANGE_TASKSACTIVE, 0);
    anim_ticks(3);
    tap((ctx->screen_width - 30) + 13, ctx->screen_height - 60 - 28 + 10);
    ASSERT_EQ(ctx->state, ScreenState::MissedCallView);
    auto& v = ctx->views;
    EXPECT_LT(v.missed.size(), 5u);
    EXPECT_GE(v.missed.size(), 1u);
    EXPECT_TRUE(v.more);
    EXPECT_EQ(v.missed[0].name, u"5550106");
    EXPECT_GE(v.box_y, 0);
    EXPECT_LE(v.box_y + v.box.height, ctx->screen_height - 60);
}

}  // namespace
}  // namespace lumo::lockscreen::testing_support
