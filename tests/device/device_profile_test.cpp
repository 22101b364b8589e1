// lumo-device's command line: the phone's model as options, recorded in the device folder and
// kept by later boots; bad values are usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"

namespace lumo::test {
namespace {

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The screen size a screenshot reports, from its PNG header.
std::pair<unsigned, unsigned> screen_size(DeviceProcess& d) {
    auto file = d.dir() / "size.png";
    auto r = d.ctl({"screenshot", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    auto png = read_file(file);
    if (png.size() < 24) return {0, 0};
    auto be32 = [&](std::size_t at) {
        return (unsigned(std::uint8_t(png[at])) << 24) |
               (unsigned(std::uint8_t(png[at + 1])) << 16) |
               (unsigned(std::uint8_t(png[at + 2])) << 8) | unsigned(std::uint8_t(png[at + 3]));
    };
    return {be32(16), be32(20)};
}

bool has_start_menu(DeviceProcess& d) {
    return d.ctl({"windows"}).out.find("MSSTARTMENU") != std::string::npos;
}

TEST(DeviceOptions, UnknownValuesAndMissingValuesAreUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"--profile", "xga"}, "lumo-device: --profile wants vga|qvga, not 'xga'"},
        {{"--profile"}, "lumo-device: --profile needs one of vga|qvga"},
        {{"--shell", "7"}, "lumo-device: --shell wants 6.1|6.5, not '7'"},
        {{"--shell=6.2"}, "lumo-device: --shell wants 6.1|6.5, not '6.2'"},
        {{"--oem", "nokia"},
         "lumo-device: --oem wants lumo|htc-hd|htc|htc-pro|palm|asus|pm300|samsung-i770|samsung"},
        {{"--device"}, "lumo-device: --device needs a folder"},
        {{"--device="}, "lumo-device: --device needs a folder"},
        {{"--bogus"}, "lumo-device: unknown option '--bogus'"},
    };
    DeviceProcess d;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        auto args = c.args;
        // The folder comes first so that --device alone stays the last word.
        if (c.args[0].rfind("--device", 0) != 0)
            args.insert(args.begin(), {"--device", d.dir().string()});
        auto r = run_program("lumo-device", args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(d.dir() / "registry.db"));
    auto version = run_program("lumo-device", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lumo-device ", 0), 0u) << version.out;
    auto help = run_program("lumo-device", {"--help"});
    for (const char* line :
         {"--profile vga|qvga", "--shell [6.1|6.5]", "--oem NAME", "samsung-i770", "P  "})
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
}

TEST(DeviceOptions, AFolderKeepsItsScreenAndRefusesAnother) {
    DeviceProcess d;
    ASSERT_TRUE(d.start({"--profile", "qvga"})) << d.last_error;
    EXPECT_EQ(screen_size(d), std::make_pair(240u, 320u));
    d.stop();
    EXPECT_NE(read_file(d.dir() / "profile").find("profile qvga\n"), std::string::npos);

    ASSERT_TRUE(d.start()) << d.last_error;
    EXPECT_EQ(screen_size(d), std::make_pair(240u, 320u));
    d.stop();

    EXPECT_FALSE(d.start({"--profile", "vga"}));
    EXPECT_NE(d.last_error.find("is a qvga phone, not vga"), std::string::npos) << d.last_error;
    EXPECT_NE(d.last_error.find("--device"), std::string::npos) << d.last_error;
    ASSERT_TRUE(d.start({"--profile", "qvga"})) << d.last_error;
    EXPECT_EQ(screen_size(d), std::make_pair(240u, 320u));
}

TEST(DeviceOptions, TheShellVersionAndOemAreKeptUntilChanged) {
    DeviceProcess d;
    ASSERT_TRUE(d.start({"--shell", "6.5", "--oem", "palm"})) << d.last_error;
    EXPECT_TRUE(has_start_menu(d));
    d.stop();
    // "--shell" alone runs the shell of the recorded version.
    ASSERT_TRUE(d.start({"--shell"})) << d.last_error;
    EXPECT_TRUE(has_start_menu(d));
    {
        std::string error;
        auto p = platform::device::connect(d.socket_path(), u"profile-test", &error);
        ASSERT_TRUE(p) << error;
        EXPECT_TRUE(p->display().oem_info() == u"Palm Treo 800w");
    }
    d.stop();
    ASSERT_TRUE(d.start({"--shell", "6.1", "--oem", "lumo"})) << d.last_error;
    EXPECT_FALSE(has_start_menu(d));
    d.stop();
    EXPECT_EQ(read_file(d.dir() / "profile"), "profile vga\nshell 6.1\noem lumo\n");
}

TEST(DeviceOptions, ADamagedRecordIsRefusedWithItsName) {
    DeviceProcess d;
    std::ofstream(d.dir() / "profile") << "profile huge\n";
    EXPECT_FALSE(d.start());
    EXPECT_NE(d.last_error.find("names an unknown profile 'huge'"), std::string::npos)
        << d.last_error;
}

}  // namespace
}  // namespace lumo::test
