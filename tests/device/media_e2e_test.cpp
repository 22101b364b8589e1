// The weather programs and the music player Zorp on a real headless device, with the service and
// the lock screen running as the device's programs: every weather source written with
// lumo-devctl reaches the lock screen; music played with lumo-devctl takes the date's row, a tap
// on next reaches the player, the Up key sets its volume, and stopping it brings the date back.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "device_process.h"

namespace lumo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kLumo = "\\Program Files\\Lumo\\lumo.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";

class MediaOnDevice : public testing::Test {
  protected:
    void boot(const std::string& show_weather) {
        ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
        set("DebugOn", "binary", "01");
        set("WakeUpDelayMS", "dword", "300");
        set("ShowWeather", "binary", show_weather);
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string lumo_log() { return d_.ctl({"log", "lumo"}).out; }
    // Polls the lock screen's log until it holds `text` after `from`; where it was, or npos.
    std::size_t log_shows(const std::string& text, std::size_t from = 0, Ms limit = Ms(10000)) {
        auto end = Clock::now() + limit;
        do {
            auto log = lumo_log();
            auto at = log.find(text, from);
            if (at != std::string::npos) return at;
            std::this_thread::sleep_for(Ms(50));
        } while (Clock::now() < end);
        return std::string::npos;
    }
    std::string music(const std::string& field) {
        auto out = d_.ctl({"music", "status"}).out;
        std::istringstream in(out);
        std::string line, all;
        while (std::getline(in, line))
            if (line.rfind(field + "\t", 0) == 0) all += (all.empty() ? "" : ",") + line.substr(field.size() + 1);
        return all;
    }
    bool wait_music(const std::string& field, const std::string& want) {
        return wait_until([&] { return music(field) == want; }, std::chrono::seconds(10));
    }
    // The lock screen started again, reading the settings anew (as after a settings change).
    void restart_lumo() {
        ASSERT_EQ(d_.ctl({"post", "Lumo", "0x10", "0", "0"}).status, 0);  // WM_CLOSE
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--gone", "--timeout", "10"}).status, 0);
        ASSERT_EQ(d_.ctl({"start", kLumo, "-hide"}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
    }
    DeviceProcess d_;
};

TEST_F(MediaOnDevice, EveryWeatherSourceReachesTheLockScreen) {
    ASSERT_NO_FATAL_FAILURE(boot("00"));
    const char* sources[] = {"spb", "weather-panel", "pocket", "htc-home", "user", "manila-2d", "manila"};
    for (int n = 1; n <= 7; ++n) {
        auto r = d_.ctl({"weather", sources[n - 1], "--icon", "3", "--high", std::to_string(20 + n), "--low",
                         std::to_string(n - 3)});
        ASSERT_EQ(r.status, 0) << sources[n - 1] << ": " << r.err;
    }
    for (int n = 1; n <= 7; ++n) {
        SCOPED_TRACE(sources[n - 1]);
        set("ShowWeather", "binary", "0" + std::to_string(n));
        // Each start begins a new log.
        ASSERT_NO_FATAL_FAILURE(restart_lumo());
        std::string want = "Weather 3: " + std::to_string(20 + n) + "°/" + std::to_string(n - 3) + "°";
        EXPECT_NE(log_shows(want), std::string::npos) << lumo_log();
    }
    // Cleared, a new start shows nothing and says so in no error.
    ASSERT_EQ(d_.ctl({"weather", "clear"}).status, 0);
    ASSERT_NO_FATAL_FAILURE(restart_lumo());
    ASSERT_NE(log_shows("Update Weather 7"), std::string::npos);
    std::this_thread::sleep_for(Ms(300));
    EXPECT_EQ(lumo_log().find("Weather 3:"), std::string::npos);
}

TEST_F(MediaOnDevice, BadWeatherDataLeavesTheLastForecastAndTheLockScreenRunning) {
    ASSERT_NO_FATAL_FAILURE(boot("07"));
    ASSERT_EQ(d_.ctl({"weather", "manila", "--icon", "12", "--high", "50", "--low", "41", "--unit", "f"}).status, 0);
    // The service tells the lock screen of Manila's update time.
    ASSERT_NE(log_shows("Weather 12: 50°/41°"), std::string::npos) << lumo_log();
    std::mt19937 random(11);
    std::string junk(8192, '\0');
    for (auto& ch : junk) ch = char(random());
    {
        std::ofstream out(d_.dir() / "fs" / "Application Data" / "HTC" / "databases" / "forecast_cache.db",
                          std::ios::binary | std::ios::trunc);
        out << junk;
    }
    std::size_t from = lumo_log().size();
    ASSERT_EQ(d_.ctl({"reg", "set", "HKCU", "Software\\HTC\\Manila", "Weather.LastUpdateTime", "dword", "7"}).status, 0);
    EXPECT_NE(log_shows("SQL error: file is not a database", from), std::string::npos) << lumo_log().substr(from);
    // A user value as long as the registry keeps, and a source that is not one.
    set("ShowWeather", "binary", "05");
    ASSERT_NO_FATAL_FAILURE(restart_lumo());
    set("UserWeather", "string", "C|5|" + std::string(8000, 'x'));
    EXPECT_NE(log_shows("Weather 5: xxx"), std::string::npos);
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--timeout", "2"}).status, 0);
    auto r = d_.ctl({"weather", "nowhere", "--icon", "1", "--high", "1", "--low", "1"});
    EXPECT_EQ(r.status, 2);
    r = d_.ctl({"weather", "spb", "--icon", "1", "--high", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--low"), std::string::npos) << r.err;
}

TEST_F(MediaOnDevice, MusicTakesTheDateRowAndTheButtonsDriveThePlayer) {
    ASSERT_NO_FATAL_FAILURE(boot("00"));
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--foreground", "--timeout", "10"}).status, 0);
    std::size_t from = lumo_log().size();
    auto r = d_.ctl({"music", "play"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(music("state"), "playing");
    auto first = music("title");
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(music("picture").rfind("\\My Documents\\My Music\\", 0), 0u) << music("picture");
    // The service forwards the title: the panel opens with the control view.
    auto at = log_shows("Music controls: ", from);
    ASSERT_NE(at, std::string::npos) << lumo_log().substr(from);
    EXPECT_NE(lumo_log().find("ShowWMPControl 1", from), std::string::npos);
    int play = 0, next = 0, previous = 0, row = 0, bar = 0, knob = 0;
    ASSERT_EQ(std::sscanf(lumo_log().c_str() + at, "Music controls: play %d next %d previous %d row %d bar %d knob %d",
                          &play, &next, &previous, &row, &bar, &knob),
              6);
    // A tap on next: the player hears 302 and plays another title.
    ASSERT_EQ(d_.ctl({"tap", std::to_string(next + 10), std::to_string(row + 20)}).status, 0);
    ASSERT_TRUE(wait_music("command", "302")) << d_.ctl({"music", "status"}).out;
    EXPECT_NE(music("title"), first);
    // The player's volume at 98: the Up key gives 100.
    ASSERT_EQ(d_.ctl({"post", "Zorp", "0x111", "304", "98"}).status, 0);
    ASSERT_TRUE(wait_music("volume", "98"));
    std::this_thread::sleep_for(Ms(300));
    ASSERT_EQ(d_.ctl({"key", "38"}).status, 0);
    EXPECT_TRUE(wait_music("volume", "100")) << d_.ctl({"music", "status"}).out;
    // Stopped: the player is gone, the date comes back.
    from = lumo_log().size();
    ASSERT_EQ(d_.ctl({"music", "stop"}).status, 0);
    EXPECT_TRUE(wait_music("running", "0"));
    EXPECT_NE(log_shows("Update Date only", from), std::string::npos) << lumo_log().substr(from);
    EXPECT_EQ(d_.ctl({"music", "next"}).status, 1);
    r = d_.ctl({"music", "play", "\\My Documents\\none.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumo::test
