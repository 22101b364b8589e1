#include "process_service.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "lumo/platform/files.h"
#include "lumo/platform/process.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"
#include "display_service.h"
#include "simulated_programs.h"
#include "window_service.h"

namespace lumo::host {

namespace fs = std::filesystem;
using namespace platform;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

// The product's programs: the built binary and the name it is installed under.
struct ProductProgram {
    const char* binary;
    const char16_t* exe;
};
constexpr ProductProgram kProduct[] = {
    {"Vardex2", u"Vardex2.exe"},
    {"lumo", u"lumo.exe"},
    {"LumoSettings", u"LumoSettings.exe"},
    {"LumoC", u"LumoC.exe"},
};
constexpr std::u16string_view kInstallFolder = u"\\Program Files\\Lumo";
constexpr std::u16string_view kStartUpFolder = u"\\Windows\\StartUp";

bool is_tool(const std::u16string& program) { return program.rfind(u"lumo-devctl", 0) == 0; }

// Copies one file and makes sure all of it arrived: a full disk leaves short or empty copies
// behind otherwise. A copy that failed is removed.
bool copy_checked(const fs::path& from, const fs::path& to, std::string* error) {
    std::error_code ec;
    auto size = fs::file_size(from, ec);
    if (!ec) fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (!ec && fs::file_size(to, ec) != size && !ec) ec = std::make_error_code(std::errc::no_space_on_device);
    if (!ec) return true;
    std::error_code ignored;
    fs::remove(to, ignored);
    if (error) *error = "cannot install " + to.string() + ": " + ec.message();
    return false;
}

// Copies a tree; with `only_missing`, files already there are kept. `skip` (relative to `from`)
// names a folder left out with all it holds. False at the first file or folder that could not
// be written, with `error` set.
bool copy_tree(const fs::path& from, const fs::path& to, bool only_missing, std::string* error,
               const fs::path& skip = {}) {
    std::error_code ec;
    auto it = fs::recursive_directory_iterator(from, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        auto rel = fs::relative(it->path(), from, ec);
        if (ec) break;
        auto target = to / rel;
        if (!skip.empty() && rel == skip) {
            it.disable_recursion_pending();
        } else if (it->is_directory()) {
            fs::create_directories(target, ec);
            if (ec) break;
        } else if (!(only_missing && fs::exists(target))) {
            fs::create_directories(target.parent_path(), ec);
            if (ec) break;
            if (!copy_checked(it->path(), target, error)) return false;
        }
    }
    if (!ec) return true;
    if (error) *error = "cannot install " + from.string() + " into " + to.string() + ": " + ec.message();
    return false;
}

// The target of a shortcut file: "<length>#<path>" with the path optionally quoted.
std::u16string shortcut_target(const fs::path& file) {
    // A shortcut is a line of text; anything that is not a small plain file has no target.
    auto bytes = platform::read_file(file, 4096);
    if (!bytes) return {};
    std::string text(bytes->begin(), bytes->end());
    auto hash = text.find('#');
    if (hash == std::string::npos) return {};
    auto target = text.substr(hash + 1);
    while (!target.empty() && (target.back() == '\n' || target.back() == '\r' || target.back() == ' '))
        target.pop_back();
    if (target.size() >= 2 && target.front() == '"') {
        auto close = target.find('"', 1);
        target = target.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return to_u16(target);
}

}  // namespace

std::int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t local_wall_ms() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    return (std::int64_t(ts.tv_sec) + local.tm_gmtoff) * 1000 + ts.tv_nsec / 1000000;
}

ProcessService::ProcessService(Host& host, WindowService& windows) : host_(host), windows_(windows) {
    fs_root_ = fs::path(host_.options().dir) / "fs";
    std::error_code ec;
    bin_dir_ = fs::read_symlink("/proc/self/exe", ec).parent_path();
    // The shared clock page: the device boots now, its local time is the host's.
    auto clock_path = fs::path(host_.options().dir) / "run" / "clock";
    clock_fd_ = ::open(clock_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (clock_fd_ >= 0 && ::ftruncate(clock_fd_, sizeof(SharedClock)) == 0) {
        void* p = ::mmap(nullptr, sizeof(SharedClock), PROT_READ | PROT_WRITE, MAP_SHARED, clock_fd_, 0);
        if (p != MAP_FAILED) clock_ = new (p) SharedClock{};
    }
    if (clock_) {
        clock_->boot_monotonic_ms = monotonic_ms();
        clock_->local_offset_ms = 0;
    } else {
        host_.log().printf("cannot share the clock at %s", clock_path.c_str());
    }
    register_handlers();
    host_.on_child_exited([this](pid_t pid, int status) {
        std::string why = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                              : "exit " + std::to_string(WEXITSTATUS(status));
        ended(static_cast<std::uint32_t>(pid), why);
    });
    host_.started_program = [this](pid_t pid) -> std::optional<std::u16string> {
        auto it = processes_.find(static_cast<std::uint32_t>(pid));
        if (it == processes_.end() || !it->second.child) return std::nullopt;
        auto name = file_name(it->second.path);
        if (name.size() > 4 && equal_no_case(std::u16string_view(name).substr(name.size() - 4), u".exe"))
            name.resize(name.size() - 4);
        return name;
    };
    host_.on_client_closed([this](ClientConn& c) {
        // A program that connected on its own (a test, a tool) ends with its connection.
        auto pid = static_cast<std::uint32_t>(c.pid);
        if (!processes_.count(pid)) {
            bool other = false;
            for (auto& [id, o] : host_.clients())
                other |= o.get() != &c && !o->closing && o->pid == c.pid;
            if (!other) {
                auto range = waiters_.equal_range(pid);
                for (auto it = range.first; it != range.second; ++it) {
                    host_.cancel(it->second.timer);
                    host_.reply_later(it->second.reply, [](Writer& w) { w.status(Status::Ok).u32(1); });
                }
                waiters_.erase(pid);
            }
        }
    });
}

ProcessService::~ProcessService() {
    if (clock_) ::munmap(clock_, sizeof(SharedClock));
    if (clock_fd_ >= 0) ::close(clock_fd_);
}

bool ProcessService::install(bool fresh, std::string* error) {
    if (!fresh) return install_into(fs_root_, false, error);
    // A new device is installed aside, inside the device folder, and moved into place whole: a
    // boot that fails (a full disk) or is killed half-way leaves no half-installed phone, and
    // the next boot installs again.
    auto staging = fs::path(host_.options().dir) / "fs.installing";
    std::error_code ec;
    fs::remove_all(staging, ec);
    std::string why;
    bool ok = make_private_dir(staging, &why) && lay_out_file_system(staging, &why) &&
              install_into(staging, true, &why);
    if (ok) {
        fs::rename(staging, fs_root_, ec);
        if (ec) {
            ok = false;
            why = "cannot move the new device into " + fs_root_.string() + ": " + ec.message();
        }
    }
    if (!ok) {
        fs::remove_all(staging, ec);
        host_.log().printf("installation failed: %s", why.c_str());
        if (error) *error = "the new device could not be installed: " + why;
        return false;
    }
    host_.log().line("installed the product into \\Program Files\\Lumo");
    return true;
}

bool ProcessService::install_into(const fs::path& root, bool fresh, std::string* error) {
    std::error_code ec;
    auto folder = map_device_path(root, kInstallFolder);
    if (!folder) return false;
    fs::create_directories(*folder, ec);
    if (ec) {
        if (error) *error = "cannot create " + folder->string() + ": " + ec.message();
        return false;
    }
    // The programs are links to the binaries of the build this host belongs to, so a rebuilt
    // product runs on an old device.
    for (auto& p : kProduct) {
        auto binary = bin_dir_ / p.binary;
        auto link = *folder / fs::path(std::u16string(p.exe));
        if (!fs::exists(binary)) continue;
        if (fs::is_symlink(link) && fs::read_symlink(link, ec) == binary) continue;
        fs::remove(link, ec);
        fs::create_symlink(binary, link, ec);
        if (!ec && fs::read_symlink(link, ec) != binary && !ec) ec = std::make_error_code(std::errc::io_error);
        if (ec) {
            if (error) *error = "cannot install " + link.string() + ": " + ec.message();
            return false;
        }
    }
    // Pictures, languages, sounds and samples: everything on a new device, what is missing of
    // the program folder on an old one (a person's own files stay as they are). A 96-dpi phone
    // gets the 96-dpi pictures as its gfx folder, the only one the lock screen looks in.
    auto stage = bin_dir_.parent_path() / "stage";
    if (fs::is_directory(stage)) {
        const bool small = chosen_profile().dpi < 192;
        auto staged = map_device_path(stage, kInstallFolder);
        if (staged && !fs::is_directory(*staged)) staged.reset();
        if (fresh) {
            auto skip = small && staged ? fs::relative(*staged / "gfx", stage, ec) : fs::path();
            if (!copy_tree(stage, root, true, error, skip)) return false;
        } else if (staged) {
            if (!copy_tree(*staged, *folder, true, error, small ? fs::path("gfx") : fs::path()))
                return false;
        }
        if (small && staged && fs::is_directory(*staged / "gfx96") &&
            !copy_tree(*staged / "gfx96", *folder / "gfx", true, error))
            return false;
    }
    if (fresh) {
        auto startup = map_device_path(root, kStartUpFolder);
        fs::create_directories(*startup, ec);
        std::string target = "\"\\Program Files\\Lumo\\Vardex2.exe\"";
        std::string text = std::to_string(target.size()) + "#" + target + "\r\n";
        auto file = *startup / "Vardex2.lnk";
        {
            std::ofstream out(file, std::ios::binary);
            out << text;
            out.flush();
            if (!out) ec = std::make_error_code(std::errc::no_space_on_device);
        }
        if (!ec && fs::file_size(file, ec) != text.size() && !ec)
            ec = std::make_error_code(std::errc::no_space_on_device);
        if (ec) {
            if (error) *error = "cannot write " + file.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void ProcessService::run_startup() {
    auto startup = map_device_path(fs_root_, kStartUpFolder);
    std::error_code ec;
    std::vector<fs::path> entries;
    for (auto it = fs::directory_iterator(*startup, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (auto& e : entries) {
        auto name = e.filename().u16string();
        auto ends_with = [&](std::u16string_view suffix) {
            return name.size() >= suffix.size() && equal_no_case(std::u16string_view(name).substr(name.size() - suffix.size()), suffix);
        };
        std::u16string target;
        if (ends_with(u".lnk")) {
            target = shortcut_target(e);
        } else if (ends_with(u".exe")) {
            target = std::u16string(kStartUpFolder) + u"\\" + e.filename().u16string();
        }
        if (target.empty()) continue;
        auto pid = start(target, u"", true);
        host_.log().printf("start-up: %s %s", to_utf8(target).c_str(), pid ? "started" : "failed");
    }
}

std::optional<fs::path> ProcessService::executable(std::u16string_view path, std::string* why) const {
    auto file = map_device_path(fs_root_, path);
    std::error_code ec;
    if (!file || !fs::is_regular_file(*file, ec) || ::access(file->c_str(), X_OK) != 0) return std::nullopt;
    // A link may lead anywhere; only what it really runs counts. Anybody able to put a link
    // into the phone must not get a program of their choice run as the device's owner.
    auto binary = fs::canonical(*file, ec);
    if (ec) return std::nullopt;
    auto root = fs::canonical(fs_root_, ec);
    bool in_device = !ec && path_inside(root, binary);
    auto bins = fs::canonical(bin_dir_, ec);
    bool in_build = !ec && !bin_dir_.empty() && path_inside(bins, binary);
    if (!in_device && !in_build) {
        *why = "it leads outside the device's programs, to " + binary.string();
        return std::nullopt;
    }
    return binary;
}

std::uint32_t ProcessService::start(std::u16string_view path, std::u16string_view arguments, bool shown,
                                    bool* refused) {
    std::string why;
    auto binary = executable(path, &why);
    if (!why.empty()) {
        host_.log().printf("refused to start %s: %s", to_utf8(path).c_str(), why.c_str());
        if (refused) *refused = true;
        return 0;
    }
    if (binary) {
        auto socket = wire::socket_path_for(host_.options().dir);
        auto out_path = fs::path(host_.options().dir) / "run" / "programs.out";
        std::string exe_utf8 = to_utf8(path);
        std::string args_utf8 = to_utf8(arguments);
        std::string fs_root = fs_root_.string();
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid == 0) {
            // A program never outlives its device.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) ::dup2(null, 0);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            ::setenv("LUMO_DEVICE_SOCKET", socket.c_str(), 1);
            ::setenv("LUMO_DEVICE_FS", fs_root.c_str(), 1);
            ::setenv("LUMO_EXE", exe_utf8.c_str(), 1);
            ::setenv("LUMO_SHOW", shown ? "1" : "0", 1);
            std::string bin = binary->string();
            std::vector<char*> argv = {bin.data()};
            if (!args_utf8.empty()) argv.push_back(args_utf8.data());
            argv.push_back(nullptr);
            ::execv(bin.c_str(), argv.data());
            ::_exit(127);
        }
        if (pid < 0) {
            host_.log().printf("cannot start %s: %s", exe_utf8.c_str(), std::strerror(errno));
            return 0;
        }
        auto id = static_cast<std::uint32_t>(pid);
        processes_[id] = {id, std::u16string(path), false, true, {}};
        host_.log().printf("started %s %s (pid %u%s)", exe_utf8.c_str(), args_utf8.c_str(), id,
                           shown ? "" : ", hidden");
        return id;
    }
    auto name = file_name(path);
    if (start_service_program) {
        auto id = next_simulated_pid_;
        if (start_service_program(name, id, shown)) {
            ++next_simulated_pid_;
            processes_[id] = {id, std::u16string(path), true, false, {}};
            host_.log().printf("started simulated %s (pid %u)", to_utf8(path).c_str(), id);
            return id;
        }
    }
    for (auto& program : simulated_programs()) {
        if (!equal_no_case(program.exe, name)) continue;
        auto id = next_simulated_pid_++;
        processes_[id] = {id, std::u16string(path), true, false, {}};
        host_.log().printf("started simulated %s%s%s (pid %u)", to_utf8(path).c_str(),
                           arguments.empty() ? "" : " ", to_utf8(arguments).c_str(), id);
        program.start(windows_, id, arguments, shown);
        return id;
    }
    host_.log().printf("cannot start %s: not a program of this device", to_utf8(path).c_str());
    return 0;
}

void ProcessService::ended(std::uint32_t pid, const std::string& why) {
    auto it = processes_.find(pid);
    if (it == processes_.end()) return;
    host_.log().printf("process %u (%s) ended: %s", pid, to_utf8(file_name(it->second.path)).c_str(),
                       why.c_str());
    processes_.erase(it);
    windows_.remove_process_windows(pid);
    auto range = waiters_.equal_range(pid);
    for (auto w = range.first; w != range.second; ++w) {
        host_.cancel(w->second.timer);
        host_.reply_later(w->second.reply, [](Writer& out) { out.status(Status::Ok).u32(1); });
    }
    waiters_.erase(pid);
}

bool ProcessService::running(std::uint32_t pid) const {
    if (processes_.count(pid)) return true;
    for (auto& [id, c] : host_.clients())
        if (!c->closing && static_cast<std::uint32_t>(c->pid) == pid && c->greeted) return true;
    return false;
}

std::vector<std::pair<std::uint32_t, std::u16string>> ProcessService::snapshot() const {
    std::vector<std::pair<std::uint32_t, std::u16string>> out;
    for (auto& [pid, p] : processes_) out.push_back({pid, p.path});
    for (auto& [id, c] : host_.clients()) {
        auto pid = static_cast<std::uint32_t>(c->pid);
        if (c->closing || !c->greeted || is_tool(c->program) || processes_.count(pid)) continue;
        bool listed = false;
        for (auto& e : out) listed |= e.first == pid;
        if (!listed) out.push_back({pid, u"\\Windows\\" + c->program + u".exe"});
    }
    return out;
}

std::int64_t ProcessService::local_now_ms() const {
    return local_wall_ms() + (clock_ ? clock_->local_offset_ms.load() : 0);
}

void ProcessService::stop_all() {
    std::vector<pid_t> children;
    for (auto& [pid, p] : processes_)
        if (p.child) children.push_back(static_cast<pid_t>(pid));
    for (pid_t pid : children) ::kill(pid, SIGTERM);
    // Give them a moment to end in order, then make sure.
    for (int i = 0; i < 50 && !children.empty(); ++i) {
        std::erase_if(children, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == pid; });
        if (!children.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (pid_t pid : children) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

void ProcessService::end_simulated(std::uint32_t pid, const std::string& why) {
    auto it = processes_.find(pid);
    if (it != processes_.end() && it->second.simulated) ended(pid, why);
}

void ProcessService::end_all(std::uint32_t grace_ms, std::function<void()> done) {
    std::vector<std::uint32_t> simulated;
    for (auto& [pid, p] : processes_)
        if (p.simulated) simulated.push_back(pid);
    for (auto pid : simulated) ended(pid, "the phone switched off");
    for (Hwnd h : std::vector<Hwnd>(windows_.z_order())) {
        auto* w = windows_.find(h);
        if (w && w->parent == 0) windows_.post(h, platform::WM_CLOSE, 0, 0);
    }
    finish_end_all(host_.now_ms() + grace_ms, std::move(done));
}

void ProcessService::finish_end_all(std::uint64_t deadline, std::function<void()> done) {
    std::vector<std::uint32_t> children;
    for (auto& [pid, p] : processes_)
        if (p.child) children.push_back(pid);
    // Looked at often, so that a phone whose programs closed at once is off at once.
    if (!children.empty() && host_.now_ms() < deadline) {
        host_.schedule(50, [this, deadline, done = std::move(done)]() mutable {
            finish_end_all(deadline, std::move(done));
        });
        return;
    }
    if (!children.empty()) {
        host_.log().line("programs still running at switch-off are ended");
        stop_all();
        for (auto pid : children) ended(pid, "ended at switch-off");
    }
    done();
}

void ProcessService::register_handlers() {
    host_.add_handler(Kind::ProcStart, [this](ClientConn&, Reader& in, Writer& out) {
        auto path = in.s16();
        auto args = in.s16();
        auto shown = in.u32();
        if (!in.done()) return false;
        if (path.size() > kMaxNameChars || args.size() > 4096) {
            out.status(Status::BadRequest);
            return true;
        }
        bool refused = false;
        auto pid = start(path, args, shown != 0, &refused);
        if (pid) {
            out.status(Status::Ok).u32(pid);
        } else {
            out.status(refused ? Status::Failed : Status::NotFound);
        }
        return true;
    });
    host_.add_handler(Kind::ProcList, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto list = snapshot();
        out.status(Status::Ok).u32(static_cast<std::uint32_t>(list.size()));
        for (auto& [pid, path] : list) out.u32(pid).s16(path);
        return true;
    });
    host_.add_handler(Kind::ProcKill, [this](ClientConn&, Reader& in, Writer& out) {
        auto pid = in.u32();
        if (!in.done()) return false;
        auto it = processes_.find(pid);
        if (it != processes_.end() && it->second.simulated) {
            ended(pid, "terminated");
            out.status(Status::Ok);
        } else if (running(pid)) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            out.status(Status::Ok);
        } else {
            out.status(Status::NotFound);
        }
        return true;
    });
    host_.add_handler(Kind::ProcWait, [this](ClientConn&, Reader& in, Writer& out) {
        auto pid = in.u32();
        auto timeout = in.u32();
        if (!in.done()) return false;
        if (!running(pid)) {
            out.status(Status::Ok).u32(1);
            return true;
        }
        if (timeout == 0) {
            out.status(Status::Ok).u32(0);
            return true;
        }
        auto reply = host_.defer();
        auto seq = reply.seq;
        auto client = reply.client;
        auto timer = host_.schedule(std::min<std::uint32_t>(timeout, 24 * 3600 * 1000), [this, pid, seq, client] {
            auto range = waiters_.equal_range(pid);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second.reply.seq == seq && it->second.reply.client == client) {
                    host_.reply_later(it->second.reply, [](Writer& w) { w.status(Status::Ok).u32(0); });
                    waiters_.erase(it);
                    return;
                }
            }
        });
        waiters_.emplace(pid, Waiter{reply, timer});
        return true;
    });
    host_.add_handler(Kind::ProcSelf, [this](ClientConn& c, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto pid = static_cast<std::uint32_t>(c.pid);
        auto it = processes_.find(pid);
        std::u16string path = it != processes_.end() ? it->second.path : u"\\Windows\\" + c.program + u".exe";
        out.status(Status::Ok).u32(pid).s16(path).s16(fs_root_.u16string());
        return true;
    });
    host_.add_handler(Kind::TimeSet, [this](ClientConn&, Reader& in, Writer& out) {
        auto which = in.u32();
        auto value = in.u64();
        if (!in.done()) return false;
        if (!clock_ || (which != 1 && which != 2)) {
            out.status(Status::BadRequest);
            return true;
        }
        if (which == 1) {
            clock_->boot_monotonic_ms = monotonic_ms() - static_cast<std::int64_t>(value);
            host_.log().printf("the device booted %llu ms ago", static_cast<unsigned long long>(value));
        } else {
            // File time (100 ns since 1601) of the wanted local time.
            constexpr std::int64_t kUnixEpochMs = 11644473600000ll;
            auto wanted_ms = static_cast<std::int64_t>(value / 10000) - kUnixEpochMs;
            clock_->local_offset_ms = wanted_ms - local_wall_ms();
            host_.log().line("the device clock was set");
        }
        out.status(Status::Ok);
        return true;
    });
}

}  // namespace lumo::host
