// lumo-devctl as a person uses it: output formats, exit statuses and the .reg export.
#include <gtest/gtest.h>

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

TEST(DevctlWithoutDevice, SaysNoDeviceRunsThere) {
    DeviceProcess d;  // folder exists, nothing serves it
    auto r = d.ctl({"status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.err.empty());
}

}  // namespace
}  // namespace lumo::test
