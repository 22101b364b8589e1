// One service at a time, also while the first start's questions are up: a lock asked for then
// (lumo-devctl lock) starts lumo, which finds no service window and starts the service again;
// that start must not run beside the first, and the lock it stands for must not be lost.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "device_process.h"

namespace lumo::service::test {
namespace {

using lumo::test::DeviceProcess;
using lumo::test::wait_until;
using Ms = std::chrono::milliseconds;

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string processes(const DeviceProcess& d) { return d.ctl({"processes"}).out; }
std::string dialogs(const DeviceProcess& d) { return d.ctl({"dialogs"}).out; }

// The line of `lumo-devctl windows` for a class: handle, pid, exe, visible, foreground, class, title.
std::string window_line(const DeviceProcess& d, const std::string& cls) {
    auto out = d.ctl({"windows"}).out;
    auto at = out.find("\t" + cls + "\t");
    if (at == std::string::npos) return "";
    auto begin = out.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return out.substr(begin, out.find('\n', at) - begin);
}

TEST(SingleService, ALockDuringTheFirstStartQuestionsStartsNoSecondServiceAndLocksAfterThem) {
    DeviceProcess d;
    ASSERT_TRUE(d.boot()) << d.last_error;
    ASSERT_TRUE(wait_until([&] { return dialogs(d).find("Lumo v2.30 by Vesk") != std::string::npos; }, Ms(8000)))
        << dialogs(d);

    auto lock = d.ctl({"lock"});
    ASSERT_EQ(lock.status, 0) << lock.err;
    // The lock's lumo finds no service window and asks the service to start and lock; that
    // start ends, and so does that lumo.
    ASSERT_TRUE(wait_until(
        [&] {
            auto p = processes(d);
            return count_of(p, "lumo.exe") == 0 && count_of(p, "Vardex2.exe") == 1;
        },
        Ms(8000)))
        << processes(d);
    // ... and it stays so: no second service turns up later.
    std::this_thread::sleep_for(Ms(500));
    EXPECT_EQ(count_of(processes(d), "Vardex2.exe"), 1) << processes(d);

    ASSERT_EQ(d.ctl({"dialog", "press", "ok"}).status, 0);
    ASSERT_TRUE(wait_until([&] { return dialogs(d).find("DISCLAIMER") != std::string::npos; }, Ms(5000)))
        << dialogs(d);
    ASSERT_EQ(d.ctl({"dialog", "press", "ok"}).status, 0);

    // The first service goes on and takes the lock that was asked for: lumo shows in front.
    ASSERT_TRUE(wait_until(
        [&] {
            auto line = window_line(d, "Lumo");
            return line.find("\t1\t1\tLumo\t") != std::string::npos;
        },
        Ms(10000)))
        << d.ctl({"windows"}).out;
    EXPECT_EQ(count_of(processes(d), "Vardex2.exe"), 1) << processes(d);
    EXPECT_EQ(count_of(processes(d), "lumo.exe"), 1) << processes(d);
}

}  // namespace
}  // namespace lumo::service::test
