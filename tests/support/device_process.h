#pragma once
// Runs a real device host in a temporary folder for end-to-end tests, and the control tool
// against it, the way a person would from a shell.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace lumo::test {

struct CommandResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program from the build's bin folder with `args`, waiting for it to end.
CommandResult run_program(const std::string& program, const std::vector<std::string>& args);

// Starts a program of the build's bin folder as a process of the device at `socket` and
// returns at once; its output goes nowhere.
pid_t spawn_device_program(const std::string& program, const std::vector<std::string>& args,
                           const std::string& socket);
// Waits for a spawned program; its exit status, or 128 + signal.
int wait_program(pid_t pid);
// The build's bin folder.
std::string bin_dir();

class DeviceProcess {
public:
    // Creates a fresh temporary device folder; nothing runs yet.
    DeviceProcess();
    // Uses an existing folder (for restarts).
    explicit DeviceProcess(std::filesystem::path dir);
    ~DeviceProcess();
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    // Boots the host headless without start-up programs and waits until it serves; false when
    // it refused to start (its standard error is then in `last_error`).
    bool start(std::vector<std::string> extra = {});
    // As start(), but the device boots as a phone does: it runs the programs of \Windows\StartUp.
    bool boot(std::vector<std::string> extra = {});
    // Asks the host to end through the control tool and waits for the process.
    int stop();
    // Sends a signal and waits for the process to end; returns its wait status.
    int kill_with(int signal);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    const std::filesystem::path& dir() const { return dir_; }
    std::string socket_path() const { return (dir_ / "run" / "device.sock").string(); }
    // lumo-devctl --device DIR args...
    CommandResult ctl(const std::vector<std::string>& args) const;
    // A product program's log (UTF-16 with a byte-order mark, in the program folder) as UTF-8
    // text; empty when there is none yet.
    std::string program_log(const std::string& name) const;

    std::string last_error;

private:
    bool launch(bool startup, const std::vector<std::string>& extra);
    std::filesystem::path dir_;
    bool owns_dir_ = false;
    pid_t pid_ = -1;
};

// Asks `pred` every `step` until it holds or `timeout` has passed; its last answer. What a
// device does in answer to a command shows up a little later, in another process.
template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout,
                std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(step);
    }
    return pred();
}

// A bare connection to a device's socket that says nothing, for tests of what the host does
// with bad or silent clients; -1 when nothing listens there.
int raw_connect(const std::string& socket_path);
// True when the host closed the connection (a read sees the end) within `seconds`.
bool closed_by_host(int fd, int seconds = 1);

}  // namespace lumo::test
