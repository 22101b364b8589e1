// Appointments, tasks, messages and alarms on a real headless phone: lumo-devctl fills the
// stores, the service exports, the lock screen shows it (its log and the screenshots tell).
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "device_process.h"

namespace lumo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kService = "\\Program Files\\Lumo\\Vardex2.exe";
const std::string kRoot = "Software\\Vesk\\Lumo";
const std::string kApts = "Software\\Vesk\\Lumo\\Appointments";

class PimOnDevice : public testing::Test {
  protected:
    // The phone at Monday 2026-12-07 09:00 with the service and the hidden lock screen; the
    // settings are there before the service's first start.
    void boot(const std::vector<std::pair<std::string, std::string>>& bytes,
              std::vector<std::string> extra = {"--shell"}) {
        ASSERT_TRUE(d_.start(extra)) << d_.last_error;
        ASSERT_EQ(d_.ctl({"time", "set", "2026-12-07T09:00"}).status, 0);
        set("DebugOn", "binary", "01");
        for (auto& [name, value] : bytes) set(name, "binary", value);
    }
    void start_service() {
        ASSERT_EQ(d_.ctl({"start", kService}).status, 0);
        ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--hidden", "--timeout", "10"}).status, 0);
        // The delayed start-up subscribes to the calendar.
        ASSERT_TRUE(log_shows("Vardex2", "SubNotifyApt 0"));
    }
    void set(const std::string& name, const std::string& type, const std::string& value) {
        auto r = d_.ctl({"reg", "set", "HKCU", kRoot, name, type, value});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    CommandResult ok(const std::vector<std::string>& args) {
        auto r = d_.ctl(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        return r;
    }
    bool log_shows(const std::string& program, const std::string& text, Ms limit = Ms(10000)) {
        auto end = Clock::now() + limit;
        do {
            auto args = program.empty() ? std::vector<std::string>{"log"} : std::vector<std::string>{"log", program};
            if (d_.ctl(args).out.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(Ms(50));
        } while (Clock::now() < end);
        return false;
    }
    bool key_exists(const std::string& key) { return d_.ctl({"reg", "get", "HKCU", key}).status == 0; }
    std::string value(const std::string& key, const std::string& name) {
        return d_.ctl({"reg", "get", "HKCU", key, name}).out;
    }
    void shot(const std::string& name) {
        // Lit, and after the lock screen's fade.
        d_.ctl({"power", "on"});
        std::this_thread::sleep_for(Ms(800));
        auto file = d_.dir() / name;
        EXPECT_EQ(d_.ctl({"screenshot", file.string()}).status, 0);
        if (const char* keep = std::getenv("LUMO_SHOT_DIR"))
            std::filesystem::copy_file(file, std::filesystem::path(keep) / name,
                                       std::filesystem::copy_options::overwrite_existing);
    }

    DeviceProcess d_;
};

TEST_F(PimOnDevice, FiveAppointmentsTodayExportThreeAndTheLockScreenListsThem) {
    ASSERT_NO_FATAL_FAILURE(boot({{"ShowAppointment", "03"}, {"ShowAlarm", "01"}}));
    for (int h = 10; h < 15; ++h)
        ok({"appointment", "add", "Meeting " + std::to_string(h), "2026-12-07T" + std::to_string(h) + ":00",
            "2026-12-07T" + std::to_string(h) + ":30", "--location", "Room " + std::to_string(h)});
    ok({"appointment", "add", "Dentist", "2026-12-08T10:00", "2026-12-08T11:00"});
    ASSERT_NO_FATAL_FAILURE(start_service());
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_TRUE(log_shows("lumo", "AP2 Meeting 12"));
    EXPECT_TRUE(key_exists(kApts + "\\0"));
    EXPECT_TRUE(key_exists(kApts + "\\2"));
    EXPECT_FALSE(key_exists(kApts + "\\3"));
    EXPECT_EQ(value(kApts + "\\0", "Subject"), "string Meeting 10\n");
    EXPECT_EQ(value(kApts + "\\0", "AllDayEvent"), "binary 00\n");
    auto log = d_.ctl({"log", "lumo"}).out;
    EXPECT_NE(log.find("AP0 10:00a-10:30a (Room 10)"), std::string::npos) << log;
    EXPECT_EQ(log.find("AP3 "), std::string::npos);
    shot("pim-three-today.png");

    // A timed appointment tomorrow: its subject after "Tomorrow:" and the time line.
    set("ShowAppointment", "binary", "06");
    ASSERT_EQ(d_.ctl({"settings", "reload"}).status, 0);
    ASSERT_TRUE(log_shows("lumo", "AP5 Tomorrow: Dentist", Ms(15000))) << d_.ctl({"log", "lumo"}).out;
    EXPECT_NE(d_.ctl({"log", "lumo"}).out.find("AP5 10:00a-11:00a"), std::string::npos);
}

TEST_F(PimOnDevice, AnAddedAppointmentReachesTheLockScreenWithinFourSeconds) {
    ASSERT_NO_FATAL_FAILURE(boot({{"ShowAppointment", "02"}}));
    ASSERT_NO_FATAL_FAILURE(start_service());
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_TRUE(log_shows("lumo", "GetAP"));
    std::this_thread::sleep_for(Ms(4000));  // the start-up's own export has come and gone
    shot("pim-before.png");
    auto id = ok({"appointment", "add", "Board meeting", "2026-12-07T15:00", "2026-12-07T16:00"}).out;
    auto added = Clock::now();
    ASSERT_TRUE(log_shows("lumo", "AP0 Board meeting", Ms(6000)));
    auto took = std::chrono::duration_cast<Ms>(Clock::now() - added).count();
    EXPECT_LT(took, 5000) << "the refresh timer waits 3.5 s";
    EXPECT_TRUE(log_shows("Vardex2", "POOM Msg:8105 9"));
    std::this_thread::sleep_for(Ms(600));
    shot("pim-after.png");
    auto before = std::ifstream(d_.dir() / "pim-before.png", std::ios::binary);
    auto after = std::ifstream(d_.dir() / "pim-after.png", std::ios::binary);
    std::string a((std::istreambuf_iterator<char>(before)), {}), b((std::istreambuf_iterator<char>(after)), {});
    EXPECT_NE(a, b) << "the screen did not change";

    // The list prints it with its id; deleting it empties the export again.
    auto list = ok({"appointment", "list"}).out;
    EXPECT_NE(list.find("2026-12-07T15:00\t2026-12-07T16:00\ttimed\tBoard meeting"), std::string::npos) << list;
    ok({"appointment", "delete", id.substr(0, id.find('\n'))});
    auto end = Clock::now() + Ms(6000);
    while (key_exists(kApts + "\\0") && Clock::now() < end) std::this_thread::sleep_for(Ms(100));
    EXPECT_FALSE(key_exists(kApts + "\\0"));
}

TEST_F(PimOnDevice, AlarmsTasksAndTheStoresOutliveARestart) {
    ASSERT_NO_FATAL_FAILURE(boot({{"ShowAlarm", "01"}, {"ShowTask", "01"}, {"ShowAppointment", "01"}}));
    // The device's locale gives the one-letter marks the panel shows.
    EXPECT_EQ(d_.ctl({"reg", "get", "HKCU", "ControlPanel\\International", "s1159"}).out, "string am\n");
    ok({"alarm", "set", "2026-12-08T10:00:30"});  // 25 hours ahead while the test runs
    EXPECT_EQ(value("System\\State\\Shell\\Alarms", "Next").substr(0, 7), "binary ");
    std::string first;
    for (int i = 1; i <= 7; ++i) {
        auto id = ok({"task", "add", "Task " + std::to_string(i), "--due", "2026-12-1" + std::to_string(i)}).out;
        if (i == 1) first = id.substr(0, id.find('\n'));
    }
    EXPECT_EQ(value("System\\State\\Tasks", "Active"), "dword 7\n");
    ASSERT_NO_FATAL_FAILURE(start_service());
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_TRUE(log_shows("lumo", "Alarm 10:00a (in 1 day 1 hour)")) << d_.ctl({"log", "lumo"}).out;
    // The start-up exported the open tasks.
    EXPECT_EQ(value(kRoot + "\\Tasks", "TaskCount"), "dword 5\n");
    EXPECT_EQ(value(kRoot + "\\Tasks\\1", "Subject"), "string Task 1\n");
    EXPECT_FALSE(key_exists(kRoot + "\\Tasks\\6"));
    shot("pim-alarm.png");

    ok({"alarm", "set", "2026-12-07T09:00:59"});
    ASSERT_EQ(d_.ctl({"post", "Lumo", "0x8016", "0", "0"}).status, 0);  // WM_CHANGE_NEXTALARM
    ASSERT_TRUE(log_shows("lumo", "Alarm 9:00a"));
    auto log = d_.ctl({"log", "lumo"}).out;
    auto at = log.rfind("Alarm 9:00a");
    EXPECT_NE(log.substr(at, 13).back(), ' ') << "59 seconds ahead has no suffix";
    ok({"alarm", "set", "off"});
    EXPECT_NE(d_.ctl({"reg", "get", "HKCU", "System\\State\\Shell\\Alarms", "Next"}).status, 0);

    // Everything is in the device's own database and comes back with it.
    ASSERT_EQ(d_.stop(), 0);
    ASSERT_TRUE(d_.start({"--shell"})) << d_.last_error;
    EXPECT_EQ(value("System\\State\\Tasks", "Active"), "dword 7\n");
    ok({"task", "complete", first});
    EXPECT_EQ(value("System\\State\\Tasks", "Active"), "dword 6\n");
    EXPECT_NE(d_.ctl({"task", "complete", "999"}).status, 0);
}

TEST_F(PimOnDevice, AnSmsWhileLockedAsksForThePreviewAndTheMailProgramShowsIt) {
    ASSERT_NO_FATAL_FAILURE(boot({{"LockNotification", "01"}, {"ShowSMSPreview", "01"}, {"ShowAppointment", "01"}}));
    ASSERT_NO_FATAL_FAILURE(start_service());
    ASSERT_EQ(d_.ctl({"lock"}).status, 0);
    ASSERT_EQ(d_.ctl({"wait", "window", "Lumo", "--visible", "--timeout", "10"}).status, 0);
    ASSERT_TRUE(log_shows("Vardex2", "Vardex2 Locked") || log_shows("lumo", "Vardex Locked"));
    ok({"sms", "send", "Ann", "First"});
    ok({"sms", "send", "Bob", "Second and newest"});
    EXPECT_EQ(value("System\\State\\Messages\\SMS\\Unread", "Count"), "dword 2\n");
    // The broker's count message (the subscription belongs to the service's state part).
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x800C", "2", "0"}).status, 0);
    EXPECT_TRUE(log_shows("lumo", "WM_ShowMessage 0"));
    EXPECT_EQ(value(kRoot + "\\SMS", "Sender"), "string Bob\n");
    EXPECT_EQ(value(kRoot + "\\SMS", "Subject"), "string Second and newest\n");

    // lumo's "open" shows the newest unread in the mail program, which records its command line.
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8058", "2", "0"}).status, 0);  // WM_OpenMessage SMS
    EXPECT_EQ(d_.ctl({"wait", "window", "tmail", "--timeout", "5"}).status, 0);
    EXPECT_TRUE(log_shows("", "tmail.exe -service \"SMS\" -mid "));
    ASSERT_EQ(d_.ctl({"post", "Vardex2", "0x8062", "2", "0"}).status, 0);  // WM_MarkReadMessage SMS
    auto end = Clock::now() + Ms(5000);
    while (value("System\\State\\Messages\\SMS\\Unread", "Count") != "dword 1\n" && Clock::now() < end)
        std::this_thread::sleep_for(Ms(50));
    EXPECT_EQ(value("System\\State\\Messages\\SMS\\Unread", "Count"), "dword 1\n");
    shot("pim-tmail.png");
}

TEST_F(PimOnDevice, AStoreFileThatIsNotOursIsLeftAloneAndThePhoneRunsWithoutIt) {
    std::filesystem::create_directories(d_.dir());
    const std::string garbage(4096, 'x');
    std::ofstream(d_.dir() / "pim.db", std::ios::binary) << garbage;
    ASSERT_TRUE(d_.start()) << d_.last_error;
    EXPECT_NE(d_.ctl({"log"}).out.find("the personal-information stores are closed"), std::string::npos);
    ok({"task", "add", "Still works"});
    EXPECT_EQ(value("System\\State\\Tasks", "Active"), "dword 1\n");
    ASSERT_EQ(d_.stop(), 0);
    std::ifstream in(d_.dir() / "pim.db", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), garbage);
}

TEST_F(PimOnDevice, BadArgumentsAreRefusedBeforeTheDeviceIsReached) {
    // No device runs in the folder: a usage error says so with status 2, not 3.
    for (std::vector<std::string> args : {
             std::vector<std::string>{"appointment", "add", "X", "2026-13-01", "2026-12-01"},
             {"appointment", "add", "X", "2026-02-30T10:00", "2026-03-01"},
             {"appointment", "add", "X", "tomorrow", "2026-03-01"},
             {"task", "add", "X", "--importance", "3"},
             {"task", "add", "X", "--due", "soon"},
             {"task", "complete", "one"},
             {"alarm", "set", "7:00"},
             {"voicemail", "-1"},
             {"sms", "send", "Ann"},
             {"email", "send", "Work", "Cy"},
             {"reminder", "ring", "X"},
         }) {
        auto r = d_.ctl(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1] << ": " << r.err;
        EXPECT_NE(r.err.find("lumo-devctl: "), std::string::npos) << r.err;
    }
    auto help = d_.ctl({"appointment", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("appointment add SUBJECT START END"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace lumo::test
