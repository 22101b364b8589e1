// lumo-devctl as a person uses it: output formats, exit statuses and the .reg export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "device_process.h"

namespace lumo::test {
namespace {

class Devctl : public testing::Test {
protected:
    static void SetUpTestSuite() {
        device_ = new DeviceProcess;
        ASSERT_TRUE(device_->start()) << device_->last_error;
    }
    static void TearDownTestSuite() {
        device_->stop();
        delete device_;
    }
    CommandResult ctl(const std::vector<std::string>& args) { return device_->ctl(args); }
    static DeviceProcess* device_;
};
DeviceProcess* Devctl::device_ = nullptr;

TEST_F(Devctl, GetPrintsEachTypeInItsFormAndFailsWithOneWhenMissing) {
    const std::string key = "Software\\Vesk\\Fmt";
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key, "N", "dword", "4294967295"}).status, 0);
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key, "S", "string", "Grüße aus Köln"}).status, 0);
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key, "B", "binary", "00FFa0"}).status, 0);
    EXPECT_EQ(ctl({"reg", "get", "HKCU", key, "n"}).out, "dword 4294967295\n");
    EXPECT_EQ(ctl({"reg", "get", "HKCU", key, "S"}).out, "string Grüße aus Köln\n");
    EXPECT_EQ(ctl({"reg", "get", "HKCU", key, "B"}).out, "binary 00ffa0\n");
    auto missing = ctl({"reg", "get", "HKCU", key, "Nope"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_FALSE(missing.err.empty());
    EXPECT_EQ(ctl({"reg", "get", "HKLM", key, "N"}).status, 1);
}

TEST_F(Devctl, BadArgumentsAreUsageErrors) {
    EXPECT_EQ(ctl({"reg", "set", "HKCU", "K", "N", "dword", "twelve"}).status, 2);
    EXPECT_EQ(ctl({"reg", "set", "HKCU", "K", "N", "binary", "abc"}).status, 2);
    EXPECT_EQ(ctl({"reg", "get", "HKXX", "K", "N"}).status, 2);
    EXPECT_EQ(ctl({"frobnicate"}).status, 2);
    auto help = run_program("lumo-devctl", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("reg export"), std::string::npos);
}

TEST_F(Devctl, ListingDeletingAndExporting) {
    const std::string key = "Software\\Vesk\\Tree";
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key, "A", "dword", "10"}).status, 0);
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key + "\\Child", "Q", "string", "say \"hi\" \\o/"}).status, 0);
    ASSERT_EQ(ctl({"reg", "set", "HKCU", key + "\\Child", "Bin", "binary", "0102"}).status, 0);
    auto list = ctl({"reg", "get", "HKCU", key});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("A\tdword 10"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Child\\"), std::string::npos) << list.out;

    auto exported = ctl({"reg", "export", "HKCU", key});
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Vesk\\Tree]\n"
              "\"A\"=dword:0000000a\n\n"
              "[HKEY_CURRENT_USER\\Software\\Vesk\\Tree\\Child]\n"
              "\"Q\"=\"say \\\"hi\\\" \\\\o/\"\n"
              "\"Bin\"=hex:01,02\n");

    EXPECT_EQ(ctl({"reg", "delete", "HKCU", key + "\\Child", "Q"}).status, 0);
    EXPECT_EQ(ctl({"reg", "get", "HKCU", key + "\\Child", "Q"}).status, 1);
    EXPECT_EQ(ctl({"reg", "delete", "HKCU", key}).status, 0);
    EXPECT_EQ(ctl({"reg", "get", "HKCU", key, "A"}).status, 1);
    EXPECT_EQ(ctl({"reg", "delete", "HKCU", key}).status, 1);
}

// Every failure is one line on standard error, starting "lumo-devctl: ".
void expect_one_line(const CommandResult& r, int status, const std::string& says) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.rfind("lumo-devctl: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

// Command lines are checked before the tool looks for a device: each of these is a usage error
// (status 2) even where no device runs, with a line saying what is wrong.
TEST(DevctlWithoutDevice, BadCommandLinesAreUsageErrorsBeforeAnyDeviceIsLookedFor) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{}, "no verb given"},
        {{"--bogus", "status"}, "unknown option '--bogus'"},
        {{"frobnicate"}, "unknown verb 'frobnicate'"},
        {{"status", "extra"}, "status: unexpected argument 'extra'"},
        {{"tap", "10"}, "tap: missing Y"},
        {{"tap", "x", "10"}, "X must be a pixel coordinate, not 'x'"},
        {{"drag", "1", "2", "3", "4", "--speed", "9"}, "drag: unknown option '--speed'"},
        {{"drag", "1", "2", "3", "4", "--ms"}, "--ms needs a value"},
        {{"wait", "window"}, "wait: missing CLASS"},
        {{"wait", "window", "C", "--timeout", "soon"}, "S must be a number of seconds, not 'soon'"},
        {{"wait", "door", "C"}, "wait wants window, not 'door'"},
        {{"dialog", "press", "maybe"},
         "ok, cancel, yes, no, abort, retry, ignore or a number, not 'maybe'"},
        {{"power"}, "power wants button, on, backlight-off, idle, suspend, hold, ac, capacity or status"},
        {{"power", "frob"}, "not 'frob'"},
        {{"power", "ac", "maybe"}, "power wants on or off, not 'maybe'"},
        {{"power", "capacity", "101"}, "PERCENT must be 0 to 100, not '101'"},
        {{"rotate", "45"}, "rotate wants 0, 90, 180 or 270, not '45'"},
        {{"reg", "get", "HKXX", "K"}, "ROOT must be HKCU or HKLM, not 'HKXX'"},
        {{"reg", "set", "HKCU", "K", "N", "dword", "twelve"}, "not a 32-bit number: twelve"},
        {{"reg", "set", "HKCU", "K", "N", "qword", "1"}, "string, binary or dword, not 'qword'"},
        {{"key", "0x1FF"}, "VK must be 1 to 254"},
        {{"key", "press"}, "key: missing VK"},
        {{"time", "set", "yesterday"}, "time set wants YYYY-MM-DDTHH:MM[:SS], not 'yesterday'"},
        {{"log", "nosuch"}, "log wants lumo, Vardex2, LumoSettings or LumoC, not 'nosuch'"},
        {{"settings"}, "settings wants reload"},
        {{"kill", "me"}, "PID must be a number, not 'me'"},
    };
    DeviceProcess d;  // folder exists, nothing serves it
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        expect_one_line(d.ctl(c.args), 2, c.says);
    }
    expect_one_line(run_program("lumo-devctl", {"--device"}), 2, "--device needs a folder");
    expect_one_line(run_program("lumo-devctl", {"--device="}), 2, "--device needs a folder");
}

TEST(DevctlWithoutDevice, HelpAndVersionNeedNoDevice) {
    DeviceProcess d;
    auto version = d.ctl({"--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.rfind("lumo-devctl ", 0), 0u) << version.out;
    auto one = d.ctl({"power", "--help"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.out.find("power capacity PERCENT"), std::string::npos) << one.out;
    EXPECT_EQ(one.out.find("reg get"), std::string::npos) << one.out;
    auto all = d.ctl({"--help"});
    for (const char* verb :
         {"lock", "settings reload", "log [", "screenshot [FILE.png]", "power ac on|off"})
        EXPECT_NE(all.out.find(verb), std::string::npos) << verb;
}

TEST_F(Devctl, RefusalsSayWhatIsMissing) {
    expect_one_line(ctl({"wait", "window", "NoSuch", "--timeout", "0.2"}), 1,
                    "no window of class NoSuch after 0.2 s");
    expect_one_line(ctl({"tap", "5000", "5000"}), 1, "5000, 5000 is outside the 480x800 display");
    expect_one_line(ctl({"tap", "10", "10"}), 1, "no window under 10, 10");
    expect_one_line(ctl({"dialog", "press", "ok"}), 1, "no message box is open");
    expect_one_line(ctl({"post", "NoSuchClass", "1", "0", "0"}), 1, "no window NoSuchClass");
}

TEST_F(Devctl, ScreenshotsAreWrittenByTheToolWithTheReasonWhenTheyCannotBe) {
    expect_one_line(ctl({"screenshot", "/no/such/dir/x.png"}), 1,
                    "lumo-devctl: cannot write /no/such/dir/x.png: No such file or directory");
    auto file = device_->dir() / "mine.png";
    auto r = ctl({"screenshot", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file.string() + "\n");
    std::ifstream in(file, std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&](std::size_t at) {
        return (unsigned(std::uint8_t(png[at])) << 24) |
               (unsigned(std::uint8_t(png[at + 1])) << 16) |
               (unsigned(std::uint8_t(png[at + 2])) << 8) | unsigned(std::uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 480u);
    EXPECT_EQ(be32(20), 800u);
    // Without a path, the next free name in the device's screenshots folder.
    auto first = ctl({"screenshot"});
    auto second = ctl({"screenshot"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out, second.out);
    for (const auto& shot : {first.out, second.out}) {
        auto path = shot.substr(0, shot.size() - 1);
        EXPECT_EQ(std::filesystem::path(path).parent_path(), device_->dir() / "screenshots");
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
}

TEST_F(Devctl, TheStylusOnADarkDisplaySaysToPressThePowerButton) {
    ASSERT_EQ(ctl({"power", "idle"}).status, 0);
    ASSERT_NE(ctl({"power", "status"}).out.find("display off"), std::string::npos);
    const std::string dark =
        "lumo-devctl: the display is off: press the power button (lumo-devctl power button)\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"tap", "100", "100"},
                                                 {"drag", "10", "10", "100", "100", "--ms", "0"},
                                                 {"touch", "down", "100", "100"}}) {
        auto r = ctl(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, dark) << args[0];
    }
    ASSERT_EQ(ctl({"power", "on"}).status, 0);
    EXPECT_EQ(ctl({"tap", "100", "100"}).err.find("display is off"), std::string::npos);
}

// $LUMO_DEVICE names the device folder for both tools, as ANDROID_SERIAL names the phone for
// adb; --device wins over it.
TEST(DevctlWithoutDevice, TheEnvironmentNamesTheDeviceAndDeviceWins) {
    DeviceProcess d;
    ::setenv("LUMO_DEVICE", d.dir().c_str(), 1);
    auto booted = run_program("lumo-device", {"--headless", "--no-startup", "--detach"});
    auto status = run_program("lumo-devctl", {"status"});
    ::setenv("LUMO_DEVICE", "/nonexistent/lumo-phone", 1);
    auto elsewhere = run_program("lumo-devctl", {"status"});
    auto given = run_program("lumo-devctl", {"--device", d.dir().string(), "status"});
    ::unsetenv("LUMO_DEVICE");
    auto stopped = run_program("lumo-devctl", {"--device", d.dir().string(), "shutdown"});
    ASSERT_EQ(booted.status, 0) << booted.err;
    EXPECT_NE(booted.out.find(d.dir().string()), std::string::npos) << booted.out;
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_NE(status.out.find("device " + d.dir().string() + "\n"), std::string::npos)
        << status.out;
    expect_one_line(elsewhere, 3, "no device at /nonexistent/lumo-phone");
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(stopped.status, 0) << stopped.err;
}

TEST(DevctlWithoutDevice, SaysNoDeviceRunsThere) {
    DeviceProcess d;  // folder exists, nothing serves it
    auto r = d.ctl({"status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.err.empty());
}

}  // namespace
}  // namespace lumo::test
