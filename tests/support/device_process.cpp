#include "device_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "lumo/platform/text.h"

#ifndef LUMO_BIN_DIR
#error "LUMO_BIN_DIR must name the build's bin folder"
#endif

namespace lumo::test {
namespace {

std::string read_all(int fd) {
    std::string s;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            s.append(buf, std::size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return s;
        }
    }
}

std::vector<char*> make_argv(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

CommandResult run_program(const std::string& program, const std::vector<std::string>& args) {
    std::string path = std::string(LUMO_BIN_DIR) + "/" + program;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    auto argv = make_argv(path, args);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    CommandResult r;
    // Drain both pipes together so a chatty program cannot block on a full one.
    std::thread err_reader([&] { r.err = read_all(err[0]); });
    r.out = read_all(out[0]);
    err_reader.join();
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = decode_status(status);
    return r;
}

std::string bin_dir() { return LUMO_BIN_DIR; }

pid_t spawn_device_program(const std::string& program, const std::vector<std::string>& args,
                           const std::string& socket) {
    std::string path = std::string(LUMO_BIN_DIR) + "/" + program;
    auto argv = make_argv(path, args);
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::setenv("LUMO_DEVICE_SOCKET", socket.c_str(), 1);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

int wait_program(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return decode_status(status);
}

DeviceProcess::DeviceProcess() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lumo-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
    owns_dir_ = true;
}

DeviceProcess::DeviceProcess(std::filesystem::path dir) : dir_(std::move(dir)) {}

DeviceProcess::~DeviceProcess() {
    if (pid_ > 0) kill_with(SIGKILL);
    if (owns_dir_ && !dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool DeviceProcess::start(std::vector<std::string> extra) { return launch(false, extra); }

bool DeviceProcess::boot(std::vector<std::string> extra) { return launch(true, extra); }

bool DeviceProcess::launch(bool startup, const std::vector<std::string>& extra) {
    std::string path = std::string(LUMO_BIN_DIR) + "/lumo-device";
    std::vector<std::string> args = {"--device", dir_.string(), "--headless"};
    if (!startup) args.push_back("--no-startup");
    args.insert(args.end(), extra.begin(), extra.end());
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) return false;
    auto argv = make_argv(path, args);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], 2);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(err[1]);
    pid_ = pid;
    // The host is ready once its socket answers a status request.
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            last_error = read_all(err[0]);
            ::close(err[0]);
            return false;
        }
        // Another host may be answering on the same folder: ready means this one answers.
        if (std::filesystem::exists(socket_path()) &&
            ctl({"status"}).out.find("pid " + std::to_string(pid_) + "\n") != std::string::npos) {
            ::close(err[0]);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(err[0]);
    last_error = "the device did not come up within 5 s";
    return false;
}

int DeviceProcess::stop() {
    if (pid_ <= 0) return -1;
    ctl({"shutdown"});
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return decode_status(status);
}

int DeviceProcess::kill_with(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return decode_status(status);
}

CommandResult DeviceProcess::ctl(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"--device", dir_.string()};
    all.insert(all.end(), args.begin(), args.end());
    return run_program("lumo-devctl", all);
}

int raw_connect(const std::string& socket_path) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool closed_by_host(int fd, int seconds) {
    timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[64];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return true;
        if (n < 0) return errno == ECONNRESET;
    }
}

std::string DeviceProcess::program_log(const std::string& name) const {
    std::ifstream in(dir_ / "fs" / "Program Files" / "Lumo" / name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    return platform::to_utf8(text);
}

}  // namespace lumo::test
