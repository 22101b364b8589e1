// The appointment export of 1 000 calendar items spread over a year (restriction, recurrence
// expansion, sort and the records written) and the lock screen's reload of six records, beside
// one SQLite query of the same rows in the same run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>


#include "lock_screen_phone.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/state.h"
#include "lumo/store/pim_store.h"
#include "parts.h"

namespace {

using namespace lumo;

constexpr int kItems = 1000;
// 2026-12-07 09:05 and the year's items around it, one every 8.76 hours from a month ago.
const platform::LocalTime kNow{2026, 12, 1, 7, 9, 5, 0, 0};

double item_start(int i) { return platform::variant_from_local(kNow) - 30 + i * 365.0 / kItems; }

void BM_SqliteQuery(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE appointments(id INTEGER PRIMARY KEY, subject TEXT, location TEXT, start REAL, "
                     "finish REAL, all_day INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kItems; ++i) {
        char sql[200];
        std::snprintf(sql, sizeof sql, "INSERT INTO appointments VALUES(%d, 'Meeting %d', 'Room', %f, %f, 0)", i, i,
                      item_start(i), item_start(i) + 1.0 / 24);
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, subject, location, start, finish, all_day FROM appointments "
                           "WHERE finish > ?1 ORDER BY start", -1, &st, nullptr);
    const double bound = std::floor(platform::variant_from_local(kNow)) - 1;
    for (auto _ : state) {
        sqlite3_bind_double(st, 1, bound);
        int rows = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(st, 1));
            ++rows;
        }
        sqlite3_reset(st);
        benchmark::DoNotOptimize(rows);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteQuery);

void BM_AppointmentExport(benchmark::State& state) {
    platform::fake::FakePlatform fake;
    fake.set_local_time(kNow);
    for (int i = 0; i < kItems; ++i) {
        store::CalendarItem a;
        a.subject = u"Meeting " + platform::to_u16(std::to_string(i));
        a.location = u"Room";
        a.start = item_start(i);
        a.end = a.start + 1.0 / 24;
        fake.pim_store().add_appointment(a);
    }
    service::State s;
    s.platform = &fake;
    s.settings.set_num(catalogue::Id::ShowAppointment, 6);
    s.settings.set_num(catalogue::Id::AppointmentDays, 7);
    int written = 0;
    for (auto _ : state) written = service::export_appointments(s);
    if (written != 6) state.SkipWithError("the export did not write six records");
}
BENCHMARK(BM_AppointmentExport)->Unit(benchmark::kMicrosecond);

struct Phone : bench::LockScreenPhone {
    Phone() : LockScreenPhone("lumo-pim-bench", u"-hide", add_appointments) {}
    // Six appointments in the registry, as the service exports them, before lumo starts hidden.
    static void add_appointments(platform::fake::FakePlatform& f) {
        f.set_local_time(kNow);
        auto& reg = f.registry();
        reg.create_key(platform::Root::CurrentUser, protocol::kRootKey);
        std::byte six{6};
        reg.set_binary(platform::Root::CurrentUser, protocol::kRootKey, u"ShowAppointment", {&six, 1});
        for (int n = 0; n < 6; ++n) {
            auto key = std::u16string(protocol::kAppointmentsKey) + u"\\" + platform::to_u16(std::to_string(n));
            reg.create_key(platform::Root::CurrentUser, key);
            reg.set_string(platform::Root::CurrentUser, key, u"Subject", u"Quarterly planning with the team");
            reg.set_string(platform::Root::CurrentUser, key, u"Location", u"Room 4");
            std::uint64_t start = platform::file_time_from_variant(item_start(30 + n));
            std::uint64_t end = start + 36000000000ull;
            reg.set_binary(platform::Root::CurrentUser, key, u"StartTime", std::as_bytes(std::span(&start, 1)));
            reg.set_binary(platform::Root::CurrentUser, key, u"EndTime", std::as_bytes(std::span(&end, 1)));
            std::byte zero{0};
            reg.set_binary(platform::Root::CurrentUser, key, u"AllDayEvent", {&zero, 1});
        }
    }
};

void BM_PanelReload(benchmark::State& state) {
    Phone phone;
    auto& c = *phone.ctx;
    for (auto _ : state) lockscreen::reload_appointments(c, 6);
    if (c.appointments.subject[5].empty())
        state.SkipWithError("the panel did not load six records");
}
BENCHMARK(BM_PanelReload)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
