// Floods: programs posting as fast as they can to one that reads slowly slow down themselves
// (over a link or through the host), never cost the reader its connection or the host its
// memory; a program whose device is gone ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

using namespace platform;
using Ms = std::chrono::milliseconds;

constexpr std::uint32_t kItem = WM_APP + 11;

// A figure of the host's memory from /proc, in KiB ("VmRSS", "VmHWM").
long host_memory_kib(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

std::string read_log(const DeviceProcess& d) {
    std::ifstream log(d.dir() / "device.log");
    return std::string((std::istreambuf_iterator<char>(log)), {});
}

TEST(PostFlood, SendersWaitForASlowReaderWhichGetsEverythingAndTheHostStaysSmall) {
    constexpr int kSenders = 2;
    constexpr int kPerSender = 50000;
    DeviceProcess d;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer holds freed memory back for a while; the host's own use is what counts.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string saved = asan ? asan : "";
    ::setenv("ASAN_OPTIONS", (saved + ":quarantine_size_mb=0").c_str(), 1);
    bool started = d.start();
    ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
#else
    bool started = d.start();
#endif
    ASSERT_TRUE(started) << d.last_error;
    std::string error;
    auto reader = device::connect(d.socket_path(), u"slow-reader", &error);
    ASSERT_TRUE(reader) << error;
    std::vector<int> got(kSenders, 0);
    bool in_order = true;
    ASSERT_TRUE(reader->windows().register_class(u"FloodSink", [&](Hwnd, std::uint32_t msg, WParam w, LParam l) -> LResult {
        if (msg == kItem && w < kSenders) {
            in_order &= l == got[w];
            ++got[w];
        }
        return 0;
    }));
    CreateWindowParams cp;
    cp.class_name = u"FloodSink";
    cp.title = u"sink";
    cp.rect = {0, 0, 480, 800};
    Hwnd sink = reader->windows().create_window(cp);
    ASSERT_NE(sink, 0u);
    const long before_kib = host_memory_kib(d.pid(), "VmRSS");

    // One sender is a program whose posts go over the link the host hands it to the reader;
    // the other posts through the host, which queues for the reader.
    std::atomic<int> failed_posts{0};
    std::atomic<bool> done[kSenders] = {};
    std::vector<std::thread> senders;
    senders.emplace_back([&] {
        std::string why;
        auto p = device::connect(d.socket_path(), u"flooder", &why);
        for (int i = 0; i < kPerSender; ++i)
            if (!p || !p->windows().post(sink, kItem, WParam(0), LParam(i))) ++failed_posts;
        done[0] = true;
    });
    senders.emplace_back([&] {
        std::string why;
        auto c = wire::Client::connect(d.socket_path(), u"flooder", &why);
        for (int i = 0; i < kPerSender; ++i) {
            if (!c) {
                ++failed_posts;
                continue;
            }
            auto& w = c->begin(wire::Kind::MsgPost);
            w.u32(sink).u32(kItem).u32(1).i32(i);
            auto r = c->call(w);
            if (!r || r->status != wire::Status::Ok) ++failed_posts;
        }
        done[1] = true;
    });
    // The reader is late: it looks only once the host has made its sender wait for it, or
    // once everything is posted. By then the link's sender is held back as well.
    bool made_to_wait = false;
    while (!made_to_wait && !(done[0] && done[1])) {
        std::this_thread::sleep_for(Ms(20));
        made_to_wait = read_log(d).find("waits: the queue of client") != std::string::npos;
    }
    const bool link_sender_held = !done[0];
    Message m;
    int total = 0;
    while (total < kSenders * kPerSender && reader->windows().get_message(m)) {
        reader->windows().dispatch(m);
        total = got[0] + got[1];
    }
    for (auto& t : senders) t.join();

    EXPECT_TRUE(made_to_wait);
    EXPECT_TRUE(link_sender_held);
    EXPECT_EQ(failed_posts.load(), 0);
    EXPECT_EQ(got[0], kPerSender);
    EXPECT_EQ(got[1], kPerSender);
    EXPECT_TRUE(in_order);
    EXPECT_TRUE(reader->windows().is_window(sink));  // still connected, never dropped
    // A backlog of 100 000 messages held in the host costs about 8 MiB; the host keeps about
    // one MiB queued.
    const long peak_kib = host_memory_kib(d.pid(), "VmHWM");
    EXPECT_LT(peak_kib - before_kib, 6 * 1024) << "before " << before_kib << " KiB, peak " << peak_kib << " KiB";
    EXPECT_EQ(read_log(d).find("stopped reading its messages"), std::string::npos);
}

// A sender that does not wait for answers puts many posts on the wire at once; the host reads
// them in batches, and those read behind the one that made the sender wait are kept, not lost
// or reordered, until the reader has caught up.
TEST(PostFlood, PostsPipelinedWithoutAnswersArriveCompleteAndInOrderAcrossAWait) {
    constexpr int kCount = 60000;
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto reader = device::connect(d.socket_path(), u"slow-reader", &error);
    ASSERT_TRUE(reader) << error;
    int next = 0;
    bool in_order = true;
    ASSERT_TRUE(reader->windows().register_class(u"PipeSink", [&](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
        if (msg == kItem) {
            in_order &= w == WParam(next);
            ++next;
        }
        return 0;
    }));
    CreateWindowParams cp;
    cp.class_name = u"PipeSink";
    Hwnd sink = reader->windows().create_window(cp);
    ASSERT_NE(sink, 0u);

    auto sender = wire::Client::connect(d.socket_path(), u"pipeliner", &error);
    ASSERT_TRUE(sender) << error;
    // Its socket fills while the host waits for the reader: the sender blocks until the reader
    // catches up, so it runs beside the reader.
    std::atomic<int> failed{0};
    std::thread posting([&] {
        for (int i = 0; i < kCount; ++i) {
            auto& w = sender->begin(wire::Kind::MsgPost);
            w.u32(sink).u32(kItem).u32(std::uint32_t(i)).i32(0);
            if (!sender->send_only(w)) ++failed;
        }
    });
    bool made_to_wait = wait_until([&] { return read_log(d).find("waits: the queue of client") != std::string::npos; },
                                   Ms(10000));
    Message m;
    while (next < kCount && reader->windows().get_message(m)) reader->windows().dispatch(m);
    posting.join();
    EXPECT_TRUE(made_to_wait);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(next, kCount);
    EXPECT_TRUE(in_order);
    // The sender is served again once the reader caught up: a request of its own is answered.
    auto& ping = sender->begin(wire::Kind::WinInfo);
    ping.u32(sink);
    auto r = sender->call(ping, 5000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, wire::Status::Ok);
}

TEST(PostFlood, AProgramWhoseDeviceIsGoneEndsEvenWithATimerRunning) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto p = device::connect(d.socket_path(), u"orphan", &error);
    ASSERT_TRUE(p) << error;
    // A busy program: each tick takes longer than the timer's period, so one is always due.
    ASSERT_TRUE(p->windows().register_class(u"Ticker", [](Hwnd, std::uint32_t msg, WParam, LParam) -> LResult {
        if (msg == WM_TIMER) std::this_thread::sleep_for(Ms(2));
        return 0;
    }));
    CreateWindowParams cp;
    cp.class_name = u"Ticker";
    cp.rect = {0, 0, 10, 10};
    Hwnd h = p->windows().create_window(cp);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(p->windows().set_timer(h, 1, 1));
    Message m;
    ASSERT_TRUE(p->windows().get_message(m));
    d.kill_with(SIGKILL);
    // Without its device the loop must end; a timer alone never keeps it going.
    bool ended = false;
    for (int i = 0; i < 2000 && !ended; ++i) {
        ended = !p->windows().get_message(m);
        if (!ended) p->windows().dispatch(m);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(m.message, WM_QUIT);
}

}  // namespace
}  // namespace lumo::test
