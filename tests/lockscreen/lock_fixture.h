#pragma once
// A lock screen over the fake platform: a phone whose program folder holds the staged theme, a
// window standing in for the service that records what reaches it, and a manual frame clock.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/fake/fake_platform.h"

namespace lumo::lockscreen::testing_support {

// The curtains pace their frames on this clock; it never waits.
class ManualFrameClock final : public gfx::FrameClock {
public:
    std::uint32_t now_ms() override { return now; }
    void sleep_ms(std::uint32_t ms) override { now += ms; }
    std::uint32_t now = 1000;
};

struct Seen {
    std::uint32_t msg;
    platform::WParam w;
    platform::LParam l;
};

class LockFixture : public ::testing::Test {
protected:
    LockFixture();
    ~LockFixture() override;

    // Copies the theme instead of linking it, so a test may remove pictures.
    void use_copied_theme();
    // Writes a setting before start-up.
    void set_byte(std::u16string_view name, std::uint8_t v);
    void set_number(std::u16string_view name, std::uint32_t v);
    void set_text(std::u16string_view name, std::u16string_view v);
    // Enters with a command line, then runs the first loop passes.
    EntryResult start(std::u16string_view command_line);
    // Locks the way the service does: focus to the hidden window.
    void lock_now();
    void send(std::uint32_t msg, platform::WParam w = 0, platform::LParam l = 0);
    void anim_ticks(int n);
    static platform::LParam point(int x, int y) { return platform::LParam(std::uint32_t(y) << 16 | std::uint32_t(x & 0xFFFF)); }
    // Messages that reached the stand-in service, in order.
    std::vector<Seen> service_seen();
    int count_seen(std::uint32_t msg);
    bool main_visible();
    std::u16string program_folder() const { return u"\\Program Files\\Lumo"; }
    std::filesystem::path host(std::u16string_view device_path);
    // The lock screen's log (written with DebugOn), as UTF-8.
    std::string log_text();

    platform::fake::FakePlatform fake;
    // Called with the device path of every picture the lock screen opens, before it is opened:
    // the phone may act while the program is busy loading.
    std::function<void(std::u16string_view)> on_picture_open;
    std::filesystem::path root;
    ManualFrameClock frames;
    std::unique_ptr<Context> ctx;
    platform::Hwnd service = 0;
    std::vector<Seen> seen;
};

std::filesystem::path stage_dir();

}  // namespace lumo::lockscreen::testing_support
