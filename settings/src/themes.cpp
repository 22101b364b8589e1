// Saving and loading themes on two worker threads. The window thread starts an operation by
// setting a worker's start event and only reads the progress and the state to draw them; each
// worker hands its end back through a zero-delay timer, so the completion runs on the window
// thread. Everything the threads share is atomic or behind the one mutex.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/settings/settings.h"
#include "lumo/settings/theme_archive.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;
namespace fs = std::filesystem;

enum class JobResult : int { Done = 0, Cancelled = 1, Failed = 2 };

struct ThemeWorkers {
    struct Thread {
        std::thread thread;
        SyncHandle start = 0, quit = 0;
        std::mutex mutex;
        std::condition_variable ended_cv;
        bool ended = false;
    };
    Thread save, load;
    std::atomic<int> state{int(ThemeState::Idle)};
    std::atomic<double> progress{0.0};
    std::atomic<bool> cancel_save{false}, cancel_load{false};
    std::atomic<int> save_result{0}, load_result{0};
    std::atomic<bool> busy{false};  // an operation was started and has not completed
    std::atomic<bool> saving{false};  // which one: a save (else a load)
    mutable std::mutex mutex;       // guards the texts below
    std::u16string load_path, caption, name;
};

namespace {

constexpr std::u16string_view kStagingFolder = u".theme-staging";
constexpr std::u16string_view kTimeoutsKey = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
constexpr std::u16string_view kBackLightKey = u"ControlPanel\\BackLight";
constexpr std::uint32_t kQuitWaitMs = 500;

std::string u8(std::u16string_view s) { return to_utf8(s); }

void set_texts(ThemeWorkers& t, std::u16string caption, std::optional<std::u16string> name = std::nullopt) {
    std::lock_guard lock(t.mutex);
    t.caption = std::move(caption);
    if (name) t.name = std::move(*name);
}

void set_progress(Context& c, double p) {
    c.themes->progress = p;
    if (c.theme_progress_observer) c.theme_progress_observer(p);
}

std::optional<fs::path> program_host(Context& c) { return c.p.processes().host_path(c.program_folder); }

// The smallest of the four power timeouts (a missing or zero one counts as 999 s) less a
// second: the idle timer is reset that often while a theme is saved or loaded.
void keep_awake(Context& c) {
    auto& reg = c.p.registry();
    std::uint32_t smallest = 999;
    auto take = [&](Root root, std::u16string_view key, std::u16string_view name) {
        auto v = reg.get_dword(root, key, name);
        std::uint32_t s = v && *v != 0 ? *v : 999;
        smallest = std::min(smallest, s);
    };
    take(Root::LocalMachine, kTimeoutsKey, u"BattSuspendTimeout");
    take(Root::LocalMachine, kTimeoutsKey, u"ACSuspendTimeout");
    take(Root::CurrentUser, kBackLightKey, u"BatteryTimeout");
    take(Root::CurrentUser, kBackLightKey, u"ACTimeout");
    std::int64_t period = std::int64_t(smallest) * 1000 - 1000;
    c.log.printf("SuspendTimout %d", int(period));
    c.p.power().reset_idle_timer();
    // A one-second timeout would make a timer of no period at all.
    c.p.windows().set_timer(c.main_window, kTimerKeepAwake, std::uint32_t(std::max<std::int64_t>(period, 1000)));
}

void stop_keeping_awake(Context& c) { c.p.windows().kill_timer(c.main_window, kTimerKeepAwake); }

// A folder name taken from the settings for a clock folder inside gfx: only a plain relative
// path, never one that climbs out.
std::optional<fs::path> clock_folder(std::u16string_view setting) {
    if (setting.empty()) return std::nullopt;
    return theme::safe_entry_path(u8(setting));
}

std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (it->is_regular_file(e) && !it->is_symlink(e)) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// ------------------------------------------------------------------------------------------
// Save.

bool write_theme_reg(const fs::path& file, const catalogue::Values& v) {
    RegWriter w;
    if (!w.open(file)) return false;
    w.line(u"Windows Registry Editor Version 5.00");
    w.line(u"");
    w.line(u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]");
    auto text = [&](std::u16string_view name) {
        if (auto id = catalogue::find(name)) w.text(name, v.text(*id));
    };
    for (auto n : theme::theme_reg_texts_first()) text(n);
    for (auto n : theme::theme_reg_bytes())
        if (auto id = catalogue::find(n)) w.byte_option(n, std::uint8_t(v.num(*id)));
    for (auto n : theme::theme_reg_texts_last()) text(n);
    w.close();
    return true;
}

JobResult run_save(Context& c) {
    auto& t = *c.themes;
    c.log.write("Start: SaveThemeEvent");
    keep_awake(c);
    t.cancel_save = false;
    t.state = int(ThemeState::Saving);
    set_progress(c, 0);
    set_texts(t, c.general.get(u"s_SavingTheme="), u"THEME.LUMO");
    auto folder = program_host(c);
    if (!folder) return JobResult::Failed;
    auto cancelled = [&t] { return t.cancel_save.load(); };
    // The look as it is stored now.
    auto values = catalogue::Values::defaults(protocol::Program::Settings, c.vibration_led);
    catalogue::load_program(c.p.registry(), protocol::Program::Settings, values);

    theme::ArchiveWriter zip;
    if (!zip.create(*folder / std::u16string(kThemeFile))) {
        c.log.write("Theme created 1");
        return JobResult::Failed;
    }
    bool failed = false;
    auto gfx = *folder / "gfx";
    auto add_folder = [&](const fs::path& dir, const std::string& prefix, double from, double to) {
        auto files = files_in(dir);
        for (std::size_t i = 0; i < files.size() && !failed; ++i) {
            if (cancelled()) return;
            if (!zip.add_file(files[i], prefix + files[i].filename().string(), cancelled)) {
                if (cancelled()) return;
                c.log.printf("Cannot add %s", files[i].filename().c_str());
                failed = true;
            }
            set_progress(c, from + (to - from) * double(i + 1) / double(files.size()));
        }
    };
    add_folder(gfx, "gfx/", 0, 89);
    if (!cancelled() && !failed) {
        set_progress(c, 89);
        if (auto clock = clock_folder(values.text(Id::ClockPath)))
            add_folder(gfx / *clock, "gfx/" + clock->generic_string() + "/", 89, 93);
        set_progress(c, 93);
        if (auto clock = clock_folder(values.text(Id::Clock2Path)))
            if (!cancelled() && !failed) add_folder(gfx / *clock, "gfx/" + clock->generic_string() + "/", 93, 97);
        set_progress(c, 97);
    }
    if (!cancelled() && !failed) {
        auto reg = *folder / std::string(theme::kThemeReg);
        failed = !write_theme_reg(reg, values) || !zip.add_file(reg, theme::kThemeReg, cancelled);
        set_progress(c, 98);
        c.log.printf("Theme created %d", failed ? 1 : 0);
    }
    if (!zip.close()) failed = true;
    if (cancelled()) return JobResult::Cancelled;
    return failed ? JobResult::Failed : JobResult::Done;
}

void complete_save(Context& c) {
    auto& t = *c.themes;
    stop_keeping_awake(c);
    auto result = JobResult(t.save_result.load());
    std::error_code ec;
    auto folder = program_host(c);
    if (result != JobResult::Done) {
        // A cancelled or failed save leaves no half-written archive behind.
        if (folder) fs::remove(*folder / std::u16string(kThemeFile), ec);
        set_progress(c, 0);
        if (result == JobResult::Failed) set_texts(t, u"The theme could not be saved.", u"");
    } else {
        set_progress(c, 100);
    }
    if (folder) fs::remove(*folder / std::string(theme::kThemeReg), ec);
    t.state = int(ThemeState::Idle);
    t.busy = false;
    c.p.windows().kill_timer(c.main_window, kTimerThemeProgress);
}

// ------------------------------------------------------------------------------------------
// Load.

// The theme's settings into the registry, logged as they are written.
void apply_theme_settings(Context& c, const theme::ThemeSettings& s) {
    c.log.write("LoadThemeReg");
    auto root = catalogue::open_root(c.p.registry());
    if (!root) return;
    for (const auto& [name, text] : s.texts) {
        catalogue::write_text(c.p.registry(), root->key, name, text);
        c.log.printf("LoadThemeReg %s=%s", u8(name).c_str(), u8(text).c_str());
    }
    for (const auto& [name, value] : s.bytes) {
        catalogue::write_byte(c.p.registry(), root->key, name, value);
        c.log.printf("LoadThemeReg %s=%d", u8(name).c_str(), int(value));
    }
}

void delete_files(const fs::path& folder) {
    std::error_code ec;
    for (const auto& f : files_in(folder)) fs::remove(f, ec);
}

// Whether `path` (or the folder it would be made in) lies inside `root` once links are
// followed: a link planted in the program folder must not carry a file out of it.
bool stays_inside(const fs::path& root, const fs::path& path) {
    std::error_code ec;
    auto base = fs::weakly_canonical(root, ec);
    if (ec) return false;
    auto target = fs::weakly_canonical(path, ec);
    if (ec) return false;
    auto b = base.begin(), t = target.begin();
    for (; b != base.end(); ++b, ++t)
        if (t == target.end() || *b != *t) return false;
    return true;
}

// Where an entry's relative path lands: names are found without regard to case, as the phone's
// file system finds them ("GFX/" is the gfx folder).
std::optional<fs::path> destination(Context& c, const fs::path& rel) {
    std::u16string device = c.program_folder;
    for (const auto& part : rel) device += u"\\" + part.u16string();
    return c.p.processes().host_path(device);
}

// Moves the staged files into the program folder; false at the first file that cannot move.
bool install_staged(Context& c, const fs::path& folder, const fs::path& staging, const theme::StagedTheme& staged,
                    std::string& failed_entry) {
    std::error_code ec;
    for (const auto& d : staged.folders) {
        auto target = destination(c, d);
        if (!target || !stays_inside(folder, *target)) {
            failed_entry = d.generic_string();
            return false;
        }
        fs::create_directories(*target, ec);
    }
    for (std::size_t i = 0; i < staged.files.size(); ++i) {
        const auto& rel = staged.files[i];
        // The folders are found without regard to case; the file keeps its own name, since a
        // theme may hold names that differ only in case (a clock's "A.png" and "a.png").
        auto parent = rel.has_parent_path() ? destination(c, rel.parent_path()) : std::optional<fs::path>(folder);
        if (!parent) {
            failed_entry = rel.generic_string();
            return false;
        }
        auto target = *parent / rel.filename();
        fs::create_directories(target.parent_path(), ec);
        if (!stays_inside(folder, target.parent_path())) {
            failed_entry = rel.generic_string();
            return false;
        }
        // A link in the file's place is replaced, never written through.
        if (fs::is_symlink(target, ec) || fs::is_directory(target, ec)) fs::remove(target, ec);
        fs::rename(staging / rel, target, ec);
        if (ec) {
            failed_entry = rel.generic_string();
            return false;
        }
        set_progress(c, 96.0 + 2.0 * double(i + 1) / double(staged.files.size()));
    }
    return true;
}

JobResult run_load(Context& c) {
    auto& t = *c.themes;
    std::u16string path;
    {
        std::lock_guard lock(t.mutex);
        path = t.load_path;
    }
    c.log.printf("Start: LoadThemeEvent %s", u8(path).c_str());
    keep_awake(c);
    t.cancel_load = false;
    t.state = int(ThemeState::Loading);
    set_progress(c, 0);
    auto folder = program_host(c);
    auto archive = c.p.processes().host_path(path);
    if (!folder || !archive) return JobResult::Failed;
    auto staging = *folder / std::u16string(kStagingFolder);
    bool loading_shown = false;
    theme::StageCallbacks cb;
    cb.progress = [&](double p) {
        set_progress(c, p);
        if (p >= 20 && !loading_shown) {
            loading_shown = true;
            set_texts(t, c.general.get(u"s_LoadingTheme="));
        }
    };
    cb.cancelled = [&t] { return t.cancel_load.load(); };
    cb.log = [&c](const std::string& line) { c.log.write(line); };
    cb.extract_end = 90;
    theme::StagedTheme staged;
    auto r = theme::stage_theme(*archive, staging, staged, cb);
    if (!r) {
        c.log.printf("Theme loaded 1 (%s)", theme::describe(r).c_str());
        if (r.problem == theme::Problem::Cancelled) return JobResult::Cancelled;
        // Nothing of the installed theme was touched; the page names what is wrong.
        std::u16string text = r.problem == theme::Problem::MissingEntry
                                  ? c.general.get(u"s_InvalidTheme=") + u" " + to_u16(r.entry)
                                  : u"Invalid theme, " + to_u16(theme::describe(r));
        set_texts(t, text, u"");
        t.state = int(ThemeState::Invalid);
        return JobResult::Failed;
    }
    // From here on the theme is whole on disk: the swap is not cancelled half-way.
    auto settings = theme::read_theme_reg(staged.theme_reg);
    apply_theme_settings(c, settings);
    std::u16string clock, clock2;
    {
        auto values = catalogue::Values::defaults(protocol::Program::Settings, c.vibration_led);
        catalogue::load_program(c.p.registry(), protocol::Program::Settings, values);
        clock = values.text(Id::ClockPath);
        clock2 = values.text(Id::Clock2Path);
    }
    auto clean = [&](const fs::path& rel) {
        if (auto d = destination(c, rel); d && stays_inside(*folder, *d)) delete_files(*d);
    };
    clean("gfx");
    set_progress(c, 93);
    if (auto d = clock_folder(clock)) clean(fs::path("gfx") / *d);
    set_progress(c, 95);
    if (auto d = clock_folder(clock2)) clean(fs::path("gfx") / *d);
    set_progress(c, 96);
    std::string failed_entry;
    bool ok = install_staged(c, *folder, staging, staged, failed_entry);
    std::error_code ec;
    fs::remove_all(staging, ec);
    set_progress(c, 98);
    c.log.printf("Theme loaded %d", ok ? 0 : 1);
    if (!ok) {
        set_texts(t, u"Invalid theme, cannot write " + to_u16(failed_entry), u"");
        t.state = int(ThemeState::Invalid);
        return JobResult::Failed;
    }
    return JobResult::Done;
}

void complete_load(Context& c) {
    auto& t = *c.themes;
    stop_keeping_awake(c);
    c.p.windows().kill_timer(c.main_window, kTimerThemeProgress);
    t.busy = false;
    if (JobResult(t.load_result.load()) != JobResult::Done) {
        set_progress(c, 0);
        // An invalid theme keeps its message until the cancel control is used.
        if (t.state != int(ThemeState::Invalid)) t.state = int(ThemeState::Idle);
        return;
    }
    set_progress(c, 100);
    t.state = int(ThemeState::Idle);
    draw(c);
    restart_service(c);
    start_exit(c);
}

// ------------------------------------------------------------------------------------------
// The threads.

void thread_main(Context* c, ThemeWorkers::Thread* th, bool saving) {
    const char* name = saving ? "SaveThemeEvent" : "LoadThemeEvent";
    auto& t = *c->themes;
    SyncHandle handles[2] = {th->start, th->quit};
    for (;;) {
        auto r = c->p.sync().wait(handles, false, kInfinite);
        if (r == 1) {
            c->log.printf("Quit: %s", name);
            break;
        }
        if (r != 0) {
            c->log.printf("Error: %s", name);
            break;
        }
        c->p.sync().reset_event(th->start);
        if (saving) {
            t.save_result = int(run_save(*c));
        } else {
            t.load_result = int(run_load(*c));
        }
        c->p.windows().set_timer(c->main_window, saving ? kTimerSaveDone : kTimerLoadDone, 0);
    }
    std::lock_guard lock(th->mutex);
    th->ended = true;
    th->ended_cv.notify_all();
}

void start_thread(Context& c, ThemeWorkers::Thread& th, bool saving) {
    th.start = c.p.sync().create_event(u"", true, false);
    th.quit = c.p.sync().create_event(u"", true, false);
    try {
        if (th.start && th.quit) {
            th.thread = std::thread(thread_main, &c, &th, saving);
            return;
        }
    } catch (const std::system_error&) {
    }
    c.log.write(saving ? "Error: StartSaveThemeEvent" : "Error: StartLoadThemeEvent");
}

void stop_thread(Context& c, ThemeWorkers::Thread& th, const char* name) {
    if (th.thread.joinable()) {
        c.p.sync().set_event(th.quit);
        std::unique_lock lock(th.mutex);
        if (!th.ended_cv.wait_for(lock, std::chrono::milliseconds(kQuitWaitMs), [&] { return th.ended; })) {
            // Never killed: a thread ended by force could leave a half-written file or a held
            // lock behind. It is cancelled and ends at its next check.
            c.log.printf("%s overran its %u ms; waiting for it to end", name, unsigned(kQuitWaitMs));
        }
        lock.unlock();
        th.thread.join();
    }
    if (th.start) c.p.sync().close(th.start);
    if (th.quit) c.p.sync().close(th.quit);
    th.start = th.quit = 0;
}

bool start_job(Context& c, ThemeWorkers::Thread& th) {
    auto& t = *c.themes;
    if (!th.thread.joinable()) return false;
    // One theme operation at a time: a load must not replace the pictures a save is reading.
    if (t.busy.exchange(true)) {
        c.log.write("Theme busy");
        return false;
    }
    c.p.windows().set_timer(c.main_window, kTimerThemeProgress, kThemeProgressPeriodMs);
    c.p.sync().set_event(th.start);
    return true;
}

}  // namespace

void ThemeWorkersDelete::operator()(ThemeWorkers* t) const { delete t; }

void start_theme_workers(Context& c) {
    if (c.themes) return;
    c.themes.reset(new ThemeWorkers);
    start_thread(c, c.themes->save, true);
    start_thread(c, c.themes->load, false);
}

void stop_theme_workers(Context& c) {
    if (!c.themes) return;
    c.themes->cancel_save = true;
    c.themes->cancel_load = true;
    stop_thread(c, c.themes->save, "SaveThemeEvent");
    stop_thread(c, c.themes->load, "LoadThemeEvent");
    // A save ended by the exit never reached its completion on the window thread: its partial
    // archive and temporary theme.reg go here. A load cleans its staging folder itself.
    if (c.themes->busy.exchange(false) && c.themes->saving) {
        std::error_code ec;
        if (auto folder = program_host(c)) {
            if (JobResult(c.themes->save_result.load()) != JobResult::Done)
                fs::remove(*folder / std::u16string(kThemeFile), ec);
            fs::remove(*folder / std::string(theme::kThemeReg), ec);
        }
    }
}

void save_theme(Context& c) {
    if (!c.themes) return;
    c.themes->saving = true;
    c.themes->save_result = int(JobResult::Cancelled);  // until the worker says otherwise
    if (start_job(c, c.themes->save)) {
        c.themes->state = int(ThemeState::Saving);
        c.themes->progress = 0;
        set_texts(*c.themes, c.general.get(u"s_SavingTheme="), u"THEME.LUMO");
    }
}

void browse_theme(Context& c) {
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::write_text(c.p.registry(), root->key, catalogue::setting(Id::LoadTheme).name, u"");
    start_browser(c, kBrowseTheme, c.program_folder + u"\\*.lumo");
}

void on_theme_picked(Context& c) {
    if (!c.themes) return;
    std::u16string path;
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::read_text(c.p.registry(), root->key, catalogue::setting(Id::LoadTheme).name, 261, path);
    c.log.printf("LoadTheme %s", u8(path).c_str());
    auto host = path.empty() ? std::nullopt : c.p.processes().host_path(path);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) return;
    if (c.themes->busy) {
        c.log.write("Theme busy");
        return;
    }
    auto slash = path.find_last_of(u"\\/");
    auto name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    {
        std::lock_guard lock(c.themes->mutex);
        c.themes->load_path = path;
    }
    set_texts(*c.themes, c.general.get(u"s_CheckingTheme="), name);
    c.themes->progress = 0;
    c.themes->state = int(ThemeState::Loading);
    // The pick may come while another page is open: the theme page shows the progress.
    c.page = kThemePage;
    c.state = ScreenState::Theme;
    c.themes->saving = false;
    start_job(c, c.themes->load);
}

void cancel_theme(Context& c) {
    if (!c.themes) return;
    c.themes->cancel_save = true;
    c.themes->cancel_load = true;
    int invalid = int(ThemeState::Invalid);
    if (c.themes->state.compare_exchange_strong(invalid, int(ThemeState::Idle))) set_texts(*c.themes, u"", u"");
}

void on_theme_timer(Context& c, std::uint32_t id) {
    auto& win = c.p.windows();
    switch (id) {
        case kTimerKeepAwake: c.p.power().reset_idle_timer(); return;
        case kTimerThemeProgress:
            if (c.state == ScreenState::Theme) draw(c);
            return;
        case kTimerSaveDone:
            win.kill_timer(c.main_window, kTimerSaveDone);
            if (c.themes) complete_save(c);
            break;
        case kTimerLoadDone:
            win.kill_timer(c.main_window, kTimerLoadDone);
            if (c.themes) complete_load(c);
            break;
        default: return;
    }
    if (!c.ended) draw(c);
}

ThemeState theme_state(const Context& c) { return c.themes ? ThemeState(c.themes->state.load()) : ThemeState::Idle; }
double theme_progress(const Context& c) { return c.themes ? c.themes->progress.load() : 0.0; }
bool theme_busy(const Context& c) { return c.themes && c.themes->busy.load(); }

std::pair<std::u16string, std::u16string> theme_texts(const Context& c) {
    if (!c.themes) return {};
    std::lock_guard lock(c.themes->mutex);
    return {c.themes->caption, c.themes->name};
}

}  // namespace lumo::settings
