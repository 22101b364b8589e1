// The start sequence over the fake platform: first start and repair, the window, the log, the
// lumo.exe check and the first-lock decisions after a recent or a late boot.
#include <algorithm>
#include <map>

#include "lumo/catalogue/catalogue.h"
#include "service_harness.h"

namespace lumo::service::test {
namespace {

using catalogue::Id;
using catalogue::Shape;

// Every value under the settings key: name -> (type, bytes).
std::map<std::u16string, std::pair<ValueType, std::vector<std::byte>>> snapshot(Registry& reg) {
    std::map<std::u16string, std::pair<ValueType, std::vector<std::byte>>> out;
    auto key = reg.open_key(Root::CurrentUser, protocol::kRootKey);
    if (!key) return out;
    for (std::uint32_t i = 0;; ++i) {
        auto v = reg.enum_value(*key, i);
        if (!v) break;
        std::vector<std::byte> data(v->second.size);
        reg.read_value(*key, v->first, data);
        out[v->first] = {v->second.type, data};
    }
    return out;
}

bool contains(const std::vector<std::string>& lines, std::string_view text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST(ServiceStartup, FirstStartShowsLicenceThenDisclaimerAndWritesEveryDefault) {
    ServiceHarness h;
    ASSERT_TRUE(h.start());
    auto boxes = h.p.dialogs();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, kLicenceCaption);
    EXPECT_EQ(boxes[0].text, kLicenceText);
    EXPECT_EQ(boxes[1].caption, kDisclaimerCaption);
    EXPECT_EQ(boxes[1].text, kDisclaimerText);

    auto values = snapshot(h.p.registry());
    for (const auto& row : catalogue::settings()) {
        if (!(row.flags & catalogue::kFirstStart)) continue;
        auto name = row.name_for(protocol::Program::Service);
        // Names fold case: look the value up that way.
        auto it = std::find_if(values.begin(), values.end(), [&](auto& v) {
            return catalogue::find(v.first) == catalogue::find(name);
        });
        ASSERT_NE(it, values.end()) << to_utf8(name) << " missing";
        const auto& [type, data] = it->second;
        switch (row.shape) {
            case Shape::Byte:
                EXPECT_EQ(type, ValueType::Binary) << to_utf8(name);
                ASSERT_EQ(data.size(), 1u) << to_utf8(name);
                EXPECT_EQ(std::to_integer<std::uint32_t>(data[0]), row.def) << to_utf8(name);
                break;
            case Shape::Number: {
                EXPECT_EQ(type, ValueType::Dword) << to_utf8(name);
                ASSERT_EQ(data.size(), 4u) << to_utf8(name);
                std::uint32_t v = 0;
                for (int i = 3; i >= 0; --i) v = v << 8 | std::to_integer<std::uint32_t>(data[i]);
                EXPECT_EQ(v, row.def) << to_utf8(name);
                break;
            }
            case Shape::Text:
                EXPECT_EQ(type, ValueType::String) << to_utf8(name);
                EXPECT_EQ(decode_string_value(data), row.def_text) << to_utf8(name);
                break;
            case Shape::Blob:
                ADD_FAILURE() << "a blob is not written at first start: " << to_utf8(name);
        }
    }
    for (auto absent : {u"DebugOn", u"KoreanSMSpatch", u"SavedPassword", u"SleepTimer"})
        EXPECT_FALSE(values.count(absent)) << to_utf8(absent);
    EXPECT_EQ(
        h.p.registry().get_string(Root::CurrentUser, protocol::kExceptionsKey, u"ExceptionEXE00"),
        std::u16string(u"iexplore.exe"));
    EXPECT_EQ(h.p.registry().get_string(Root::CurrentUser, protocol::kS2VExeKey, u"8Parameters"),
              std::u16string());
}

TEST(ServiceStartup, LaterStartShowsNoBoxWritesNothingAndRepairsAMissingValue) {
    ServiceHarness first;
    ASSERT_TRUE(first.start());
    auto before = snapshot(first.p.registry());

    // The same registry seen by a second start: copy it into a new fake.
    ServiceHarness second;
    auto key = second.p.registry().create_key(Root::CurrentUser, protocol::kRootKey);
    ASSERT_TRUE(key);
    for (auto& [name, v] : before) second.p.registry().write_value(*key, name, v.first, v.second);
    second.p.registry().delete_value(*key, u"CurtainAlpha");
    ASSERT_TRUE(second.start());
    EXPECT_TRUE(second.p.dialogs().empty());
    EXPECT_EQ(snapshot(second.p.registry()), before);
}

TEST(ServiceStartup, ServiceLimitsApplyInMemoryOnly) {
    ServiceHarness h;
    h.set_number(u"DelayBootUpMS", 2000);
    h.set_number(u"WakeUpDelayMS", 100);
    h.set_byte(u"ShowAppointment", 9);
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.s.settings.num(Id::DelayBootUpMS), 5000u);
    EXPECT_EQ(h.s.settings.num(Id::WakeupDelayMS), 300u);
    EXPECT_EQ(h.s.settings.num(Id::ShowAppointment), 6u);
    EXPECT_EQ(h.p.registry().get_dword(Root::CurrentUser, protocol::kRootKey, u"DelayBootUpMS"),
              2000u);
}

TEST(ServiceStartup, CorrectionsOfTheServiceAfterReading) {
    ServiceHarness h;
    h.set_byte(u"WallpaperChangeTime", 5);
    h.p.registry().create_key(Root::CurrentUser, protocol::kRootKey);
    h.p.registry().set_string(Root::CurrentUser, protocol::kRootKey, u"Wallpaper", u"\\a\\b.JPG");
    h.p.registry().set_string(Root::CurrentUser, protocol::kRootKey, u"WallpaperL", u"\\a\\c.png");
    h.p.registry().create_key(Root::LocalMachine, u"ControlPanel\\Password");
    h.p.registry().set_dword(Root::LocalMachine, u"ControlPanel\\Password", u"HintCounter", 0);
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.s.settings.num(Id::WallpaperChangeTime), 0u);
    EXPECT_EQ(h.s.settings.num(Id::NoSystemLock), 1u);
    // No music player installed in either folder.
    EXPECT_EQ(h.s.MusicPlayerPath, u"\\Program Files\\LuP\\zorp.exe");
    EXPECT_EQ(h.s.settings.num(Id::HPstartZorp), 0u);
}

TEST(ServiceStartup, WallpaperFolderKeepsThePeriodicChange) {
    ServiceHarness h;
    h.set_byte(u"WallpaperChangeTime", 5);
    h.p.registry().set_string(Root::CurrentUser, protocol::kRootKey, u"Wallpaper", u"\\pics");
    h.p.registry().set_string(Root::CurrentUser, protocol::kRootKey, u"WallpaperL", u"\\a\\c.png");
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.s.settings.num(Id::WallpaperChangeTime), 5u);
}

TEST(ServiceStartup, MissingLockScreenStopsTheStartWithoutAWindow) {
    ServiceHarness h(false);
    EXPECT_FALSE(h.start());
    EXPECT_EQ(h.service_window(), 0u);
    EXPECT_TRUE(h.p.launches().empty());
}

TEST(ServiceStartup, MainWindowIsHiddenBorderedAndSized0) {
    ServiceHarness h;
    ASSERT_TRUE(h.start());
    auto info = h.p.windows().window_info(h.service_window());
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->visible);
    EXPECT_EQ(info->style & WS_BORDER, WS_BORDER);
    EXPECT_EQ(info->rect, Rect{});
    EXPECT_EQ(info->parent, 0u);
    EXPECT_EQ(h.s.ServiceWindow.load(), h.service_window());
}

TEST(ServiceStartup, LogHoldsOnlyTheBootTickWithoutDebugOn) {
    ServiceHarness h;
    h.p.set_boot_age(1234);
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.log_lines(), std::vector<std::string>{"Boot Tick 1234"});
}

TEST(ServiceStartup, LogFollowsTheStartSequenceWithDebugOn) {
    ServiceHarness h;
    h.set_byte(u"DebugOn", 1);
    h.p.set_boot_age(70000);
    ASSERT_TRUE(h.start());
    auto lines = h.log_lines();
    auto at = [&](std::string_view t) {
        return std::find(lines.begin(), lines.end(), t) - lines.begin();
    };
    ASSERT_TRUE(contains(lines, "Vardex2 v2.30"));
    ASSERT_TRUE(contains(lines, "Boot Tick 70000"));
    ASSERT_TRUE(contains(lines, "Start & Hide Lumo"));
    EXPECT_LT(at("Vardex2 v2.30"), at("Boot Tick 70000"));
    EXPECT_LT(at("Boot Tick 70000"), at("Start & Hide Lumo"));
    bool window_line = std::any_of(lines.begin(), lines.end(),
                                   [](auto& l) { return l.rfind("Vardex Wnd ", 0) == 0; });
    EXPECT_TRUE(window_line);
}

TEST(ServiceStartup, PlainStartLaunchesLumoHidden) {
    ServiceHarness h;
    h.p.set_boot_age(120000);
    ASSERT_TRUE(h.start());
    auto launches = h.p.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].path, kLockPath);
    EXPECT_EQ(launches[0].arguments, u"-hide");
    EXPECT_FALSE(launches[0].shown);
}

TEST(ServiceStartup, ShowLocksAtOnce) {
    ServiceHarness h;
    ASSERT_TRUE(h.start(u"-show"));
    auto launches = h.p.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(launches[0].shown);
    EXPECT_EQ(launches[0].arguments, u"");
    h.p.run_until_idle();
    EXPECT_TRUE(h.s.Locked);
}

TEST(ServiceStartup, RecentBootWithPasswordLockLocksOnlyAfterTheBootDelay) {
    ServiceHarness h;
    h.set_byte(u"PasswordLock", 1);
    h.set_number(u"DelayBootUpMS", 8000);
    h.p.set_boot_age(10000);
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.p.launches().empty());
    h.p.run_for(7900);
    EXPECT_TRUE(h.p.launches().empty());
    EXPECT_FALSE(h.s.Locked);
    h.p.run_for(200);
    ASSERT_EQ(h.p.launches().size(), 1u);
    EXPECT_TRUE(h.s.Locked);
    h.p.run_for(1000);
    auto got = h.lock_messages();
    EXPECT_NE(std::find(got.begin(), got.end(), protocol::WM_LOCK_PASSWORD), got.end());
}

TEST(ServiceStartup, LateBootRunsTheDelayedStartAtOnce) {
    ServiceHarness h;
    h.set_byte(u"DebugOn", 1);
    h.set_byte(u"ShowAppointment", 2);
    h.p.set_boot_age(60000);
    ASSERT_TRUE(h.start());
    EXPECT_FALSE(h.s.RecentBoot);
    h.p.run_until_idle();
    auto lines = h.log_lines();
    EXPECT_TRUE(contains(lines, "SubNotifyApt 0"));
    EXPECT_TRUE(contains(lines, "SubNotifyTask 0"));
}

TEST(ServiceStartup, RecentBootDelaysTheDelayedStart) {
    ServiceHarness h;
    h.set_byte(u"DebugOn", 1);
    h.p.set_boot_age(59999);
    ASSERT_TRUE(h.start());
    EXPECT_TRUE(h.s.RecentBoot);
    h.p.run_for(4990);
    EXPECT_FALSE(contains(h.log_lines(), "SubNotifyTask 0"));
    h.p.run_for(20);
    EXPECT_TRUE(contains(h.log_lines(), "SubNotifyTask 0"));
}

}  // namespace
}  // namespace lumo::service::test
