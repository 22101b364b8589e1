// lumo-device: boots one simulated phone whose whole state lives in a device folder.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "host.h"
#include "services.h"

namespace {

const char* kUsage = R"(Usage: lumo-device [OPTIONS]

Boots one simulated phone. Its whole state (file system, registry, logs, socket) lives in the
device folder; programs on the phone and lumo-devctl talk to it through DIR/run/device.sock.

Options:
  --device DIR          the device folder (default: $XDG_DATA_HOME/lumo/phone,
                        or ~/.local/share/lumo/phone); created on first use
  --headless            no window, even when a display is available
  --detach              return once the device accepts connections; the device runs on
  --no-startup          boot without starting the programs of \Windows\StartUp, and
                        without the shell unless --shell is given too
  --shell               run the shell (task bar, Today screen) also with --no-startup
  --auto-dismiss-dialogs
                        answer every message box with its default button after
                        300 ms (for tests)
  --verbose             echo the device log to standard error
  --help                show this text

In the window the mouse is the stylus and these keys are the phone's keys:
  arrows       the navigation pad (VK 0x25-0x28)     Enter   action (0x0D)
  F1 / F2      left / right soft key (0x70, 0x71)    Escape  back (0x1B)
  F3 / F4      talk / end (0x72, 0x73)
  Page Up/Down volume up / down (0x75, 0x76)

Drive it with lumo-devctl --device DIR VERB (lumo-devctl --help lists the verbs).
The device ends on SIGTERM, on Ctrl-C, when its window is closed, or on 'lumo-devctl shutdown'.
)";

int usage_error(const std::string& msg) {
    std::fprintf(stderr, "lumo-device: %s\nTry 'lumo-device --help'.\n", msg.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    lumo::host::Options options;
    bool detach = false;
    bool shell = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--device" && i + 1 < argc) {
            options.dir = argv[++i];
        } else if (a.rfind("--device=", 0) == 0) {
            options.dir = a.substr(9);
        } else if (a == "--headless") {
            options.headless = true;
        } else if (a == "--detach") {
            detach = true;
        } else if (a == "--no-startup") {
            options.startup = false;
        } else if (a == "--shell") {
            shell = true;
        } else if (a == "--auto-dismiss-dialogs") {
            options.auto_dismiss_ms = 300;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else {
            return usage_error("unknown option '" + a + "'");
        }
    }
    options.shell = options.startup || shell;
    if (options.dir.empty()) options.dir = lumo::host::default_device_dir();
    std::error_code ec;
    auto abs = std::filesystem::absolute(options.dir, ec);
    if (!ec) options.dir = abs.lexically_normal().string();
    while (options.dir.size() > 1 && options.dir.back() == '/') options.dir.pop_back();

    // Detaching: the parent waits on a pipe until the child listens (or fails), then returns.
    int ready[2] = {-1, -1};
    if (detach) {
        if (::pipe(ready) != 0) return usage_error("pipe failed");
        pid_t pid = ::fork();
        if (pid < 0) return usage_error("fork failed");
        if (pid > 0) {
            ::close(ready[1]);
            char ok = 0;
            ssize_t n = ::read(ready[0], &ok, 1);
            if (n == 1 && ok == 1) {
                std::printf("lumo-device: serving %s (pid %d)\n", options.dir.c_str(), int(pid));
                return 0;
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            return 1;
        }
        ::close(ready[0]);
        ::setsid();
    }

    lumo::host::Host host(options);
    std::string error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "lumo-device: %s\n", error.c_str());
        return 1;
    }
    lumo::host::Services services(host);
    if (!services.install(&error)) {
        std::fprintf(stderr, "lumo-device: %s\n", error.c_str());
        return 1;
    }
    services.boot();
    host.install_signal_handlers();
    if (detach) {
        // From here on the detached device speaks only through its log.
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::close(null);
        }
        char ok = 1;
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        ::close(ready[1]);
    } else {
        std::printf("lumo-device: serving %s (%s)\n", options.dir.c_str(),
                    options.headless ? "headless" : "window when a display is available");
        std::fflush(stdout);
    }
    int status = host.run();
    services.shutdown();
    return status;
}
