// The device host as a process: it serves several programs, survives bad clients, protects its
// registry file and loses nothing written when it ends or dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

using platform::Root;
constexpr std::u16string_view kKey = u"Software\\Vesk\\Lumo";

std::unique_ptr<platform::Platform> connect(const DeviceProcess& d, std::u16string_view name) {
    std::string error;
    auto p = platform::device::connect(d.socket_path(), name, &error);
    EXPECT_TRUE(p) << error;
    return p;
}

TEST(DeviceHost, MalformedOrTruncatedPacketsCloseOnlyThatClient) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto good = connect(d, u"good");
    ASSERT_TRUE(good);
    ASSERT_TRUE(good->registry().create_key(Root::CurrentUser, kKey));

    const std::vector<std::vector<unsigned char>> attacks = {
        {1, 0, 0},                                        // shorter than a header
        {1, 0, 0, 0, 1, 0, 0, 0, 0xff, 0xff},             // hello cut inside its fields
        {13, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f},  // absurd string length
        {0xee, 0xee, 7, 0, 1, 0, 0, 0},                   // unknown packet type
    };
    for (const auto& bytes : attacks) {
        int fd = raw_connect(d.socket_path());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        EXPECT_TRUE(closed_by_host(fd));
        ::close(fd);
        // The well-behaved program goes on being served.
        EXPECT_TRUE(good->registry().set_dword(Root::CurrentUser, kKey, u"Alive", 1));
    }
    EXPECT_EQ(d.ctl({"status"}).status, 0);
    EXPECT_EQ(d.stop(), 0);
}

TEST(DeviceHost, AValueLongerThanTheProtocolAllowsIsRefusedClearly) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto client = wire::Client::connect(d.socket_path(), u"raw", &error);
    ASSERT_TRUE(client) << error;
    auto& w = client->begin(wire::Kind::RegCreateKey);
    w.u32(1).s16(kKey);
    ASSERT_TRUE(client->call(w));
    std::vector<std::byte> big(platform::kMaxValueBytes + 100, std::byte(1));
    auto& w2 = client->begin(wire::Kind::RegWriteValue);
    w2.u32(1).s16(kKey).s16(u"Big").u32(3).bin(big);
    auto reply = client->call(w2);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, wire::Status::TooLarge);
    EXPECT_EQ(d.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Big"}).status, 1);
    d.stop();
    std::ifstream log(d.dir() / "device.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("refused a 16484-byte value"), std::string::npos) << text;
}

TEST(DeviceHost, ARegistryFileThatIsNotADatabaseIsRefusedAndKeptAsItIs) {
    DeviceProcess d;
    const std::string junk = "this is a letter, not a database\n";
    {
        std::ofstream f(d.dir() / "registry.db", std::ios::binary);
        f << junk;
    }
    EXPECT_FALSE(d.start());
    EXPECT_NE(d.last_error.find("registry.db"), std::string::npos) << d.last_error;
    std::ifstream f(d.dir() / "registry.db", std::ios::binary);
    std::string after((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(after, junk);
}

TEST(DeviceHost, ASecondHostOnTheSameFolderIsRefused) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    DeviceProcess twin(d.dir());
    EXPECT_FALSE(twin.start());
    EXPECT_NE(twin.last_error.find("already"), std::string::npos) << twin.last_error;
    EXPECT_EQ(d.ctl({"status"}).status, 0);
}

TEST(DeviceHost, EndsCleanlyOnSigtermWithEveryWriteKept) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    {
        auto p = connect(d, u"writer");
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->registry().create_key(Root::CurrentUser, kKey));
        for (std::uint32_t i = 0; i < 200; ++i)
            ASSERT_TRUE(p->registry().set_dword(Root::CurrentUser, kKey, u"N" + platform::to_u16(std::to_string(i)), i));
    }
    EXPECT_EQ(d.kill_with(SIGTERM), 0);
    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    auto r = again.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "N199"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "dword 199\n");
}

TEST(DeviceHost, KilledDuringABurstOfWritesEveryValueIsOldOrNew) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    constexpr int kValues = 50;
    {
        auto p = connect(d, u"seed");
        ASSERT_TRUE(p->registry().create_key(Root::CurrentUser, kKey));
        for (int i = 0; i < kValues; ++i)
            ASSERT_TRUE(p->registry().set_string(Root::CurrentUser, kKey,
                                                 u"V" + platform::to_u16(std::to_string(i)), u"old"));
    }
    // Two programs write new contents as fast as they can while the host is killed.
    std::atomic<bool> go{true};
    auto writer = [&](int start) {
        auto p = connect(d, u"burst");
        if (!p) return;
        std::u16string fresh(400, u'n');  // long enough that a torn write would show
        for (int round = 0; go; ++round)
            for (int i = start; i < kValues; i += 2)
                if (!p->registry().set_string(Root::CurrentUser, kKey,
                                              u"V" + platform::to_u16(std::to_string(i)), fresh))
                    return;
    };
    std::thread a(writer, 0), b(writer, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    d.kill_with(SIGKILL);
    go = false;
    a.join();
    b.join();

    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    auto p = connect(again, u"check");
    ASSERT_TRUE(p);
    int fresh = 0;
    for (int i = 0; i < kValues; ++i) {
        auto v = p->registry().get_string(Root::CurrentUser, kKey, u"V" + platform::to_u16(std::to_string(i)));
        ASSERT_TRUE(v) << i;
        if (*v == u"old") continue;
        EXPECT_EQ(*v, std::u16string(400, u'n')) << i;
        ++fresh;
    }
    EXPECT_GT(fresh, 0);  // the burst did reach the store before the kill
}

// Changes are committed a moment after their answers: one the host answered and then had a
// quiet moment after is in the file even when the host dies without an orderly stop.
TEST(DeviceHost, AnAnsweredChangeIsStoredAMomentLaterWithoutAStop) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    {
        auto p = connect(d, u"writer");
        ASSERT_TRUE(p->registry().create_key(Root::CurrentUser, kKey));
        ASSERT_TRUE(p->registry().set_dword(Root::CurrentUser, kKey, u"Quiet", 41));
        ASSERT_TRUE(p->registry().set_dword(Root::CurrentUser, kKey, u"Quiet", 42));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    d.kill_with(SIGKILL);
    DeviceProcess again(d.dir());
    ASSERT_TRUE(again.start()) << again.last_error;
    EXPECT_EQ(again.ctl({"reg", "get", "HKCU", "Software\\Vesk\\Lumo", "Quiet"}).out, "dword 42\n");
    again.stop();
}

TEST(DeviceHost, AProgramThatDiesLeavesNoNotificationBehind) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto writer = connect(d, u"writer");
    ASSERT_TRUE(writer->registry().create_key(Root::LocalMachine, u"System\\State"));
    {
        auto watcher = connect(d, u"watcher");
        platform::NotificationRequest r;
        r.root = Root::LocalMachine;
        r.key = u"System\\State";
        r.value = u"X";
        r.target = 7;
        r.message = 0x8001;
        ASSERT_NE(watcher->broker().register_notification(r), 0u);
    }
    // Posting to a vanished program must not disturb the host or the writer.
    for (std::uint32_t i = 0; i < 20; ++i)
        ASSERT_TRUE(writer->registry().set_dword(Root::LocalMachine, u"System\\State", u"X", i));
    auto status = d.ctl({"status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out.find("watcher"), std::string::npos) << status.out;
}

TEST(DeviceHost, BitsOfOneNumberChangedByTwoClientsAtOnceAreAllKept) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    const std::u16string key = u"System\\State\\Phone";
    // Two programs each switch on sixteen bits of their own, one request per bit, interleaved.
    auto worker = [&](int first, bool* ok) {
        std::string error;
        auto client = wire::Client::connect(d.socket_path(), u"bits", &error);
        if (!client) return;
        for (int bit = first; bit < first + 16; ++bit) {
            auto& w = client->begin(wire::Kind::RegUpdateBits);
            w.u32(2).s16(key).s16(u"Status").u32(0).u32(1u << bit);
            auto reply = client->call(w);
            if (!reply || reply->status != wire::Status::Ok) return;
        }
        *ok = true;
    };
    bool ok_a = false, ok_b = false;
    std::thread a(worker, 0, &ok_a), b(worker, 16, &ok_b);
    a.join();
    b.join();
    EXPECT_TRUE(ok_a && ok_b);
    EXPECT_EQ(d.ctl({"reg", "get", "HKLM", "System\\State\\Phone", "Status"}).out, "dword 4294967295\n");
    // Clearing answers the new value and leaves the other bits.
    std::string error;
    auto client = wire::Client::connect(d.socket_path(), u"bits", &error);
    ASSERT_TRUE(client) << error;
    auto& w = client->begin(wire::Kind::RegUpdateBits);
    w.u32(2).s16(key).s16(u"Status").u32(0xFFFF0000u).u32(0);
    auto reply = client->call(w);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, wire::Status::Ok);
    wire::Reader rd(reply->body);
    EXPECT_EQ(rd.u32(), 0xFFFFu);
    // A value that is not a number is refused, and the tool says so.
    ASSERT_EQ(d.ctl({"reg", "set", "HKLM", "System\\State\\Phone", "Status", "string", "x"}).status, 0);
    auto flight = d.ctl({"radio", "flight", "on"});
    EXPECT_NE(flight.status, 0);
    EXPECT_NE(flight.err.find("not a number"), std::string::npos) << flight.err;
    EXPECT_EQ(d.ctl({"reg", "get", "HKLM", "System\\State\\Phone", "Status"}).out, "string x\n");
}

}  // namespace
}  // namespace lumo::test
