// lumo-device: boots one simulated phone whose whole state lives in a device folder.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "display_service.h"
#include "host.h"
#include "services.h"

#ifndef LUMO_VERSION
#define LUMO_VERSION "0"
#endif

namespace {

const char* kUsage = R"(Usage: lumo-device [OPTIONS]
       lumo-device --version

Boots one simulated phone. Its whole state (file system, registry, logs, socket) lives in the
device folder; programs on the phone and lumo-devctl talk to it through DIR/run/device.sock.

Options:
  --device DIR          the device folder (default: $LUMO_DEVICE, else
                        $XDG_DATA_HOME/lumo/phone, or ~/.local/share/lumo/phone); created
                        on first use
  --profile vga|qvga    the screen: vga 480x800 at 192 dpi (default), qvga 240x320 at 96 dpi
  --shell [6.1|6.5]     run the shell (task bar, Today screen) also with --no-startup; with a
                        version, the phone's Windows Mobile (default 6.1; 6.5 has the start
                        menu)
  --oem NAME            the OEM information the phone reports, which picks the lock screen's
                        display back-end (default lumo):
                        %OEMS%
                        htc* phones also have HTC's long-press end key setting,
                        samsung* phones Samsung's optical mouse setting
  --headless            no window, even when a display is available
  --detach              return once the device accepts connections; the device runs on
  --no-startup          boot without starting the programs of \Windows\StartUp, and
                        without the shell unless --shell is given too
  --auto-dismiss-dialogs
                        answer every message box with its default button after
                        300 ms (for tests)
  --verbose             echo the device log to standard error
  --help                show this text
  --version             say which lumo-device this is

The profile, the shell version and the OEM name are recorded in DIR/profile and kept by
later boots. A folder keeps its screen: another --profile is refused (start a new phone in
another folder). A new --shell or --oem replaces the recorded one.

In the window the mouse is the stylus and these keys are the phone's keys:
  P            the power button (also the first key under the screen)
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
    lumo::host::ProfileChoice profile;
    using Field = lumo::host::ProfileChoice::Field;
    bool detach = false;
    bool shell = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        // "--name=value" stands for "--name value".
        std::string inline_value;
        bool has_inline = false;
        if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_inline = true;
        }
        auto value = [&](const char* what) -> std::optional<std::string> {
            if (has_inline) return inline_value;
            if (i + 1 < argc && argv[i + 1][0] != '-') return std::string(argv[++i]);
            std::fprintf(stderr, "lumo-device: %s needs %s\nTry 'lumo-device --help'.\n", a.c_str(),
                         what);
            return std::nullopt;
        };
        auto choice = [&](Field f, std::string& into) {
            auto v = value(("one of " + lumo::host::ProfileChoice::names(f)).c_str());
            if (!v) return false;
            if (!lumo::host::ProfileChoice::valid(f, *v)) {
                usage_error(a + " wants " + lumo::host::ProfileChoice::names(f) + ", not '" + *v +
                            "'");
                return false;
            }
            into = *v;
            return true;
        };
        if (a == "--help" || a == "-h") {
            auto text = std::string(kUsage);
            auto at = text.find("%OEMS%");
            auto oems = lumo::host::ProfileChoice::names(Field::Oem);
            for (auto& c : oems)
                if (c == '|') c = ',';
            for (std::size_t at_comma = oems.find(','); at_comma != std::string::npos;
                 at_comma = oems.find(',', at_comma + 2))
                oems.insert(at_comma + 1, " ");
            text.replace(at, 6, oems);
            std::fputs(text.c_str(), stdout);
            return 0;
        } else if (a == "--version" && !has_inline) {
            std::printf("lumo-device %s\n", LUMO_VERSION);
            return 0;
        } else if (a == "--device") {
            auto v = value("a folder");
            if (!v || v->empty()) return v ? usage_error("--device needs a folder") : 2;
            options.dir = *v;
        } else if (a == "--profile") {
            if (!choice(Field::Profile, profile.profile)) return 2;
        } else if (a == "--oem") {
            if (!choice(Field::Oem, profile.oem)) return 2;
        } else if (a == "--shell") {
            shell = true;
            // The version is optional: "--shell" alone keeps the recorded one.
            if ((has_inline || (i + 1 < argc && argv[i + 1][0] != '-')) &&
                !choice(Field::Shell, profile.shell))
                return 2;
        } else if (has_inline) {
            for (const char* flag : {"--headless", "--detach", "--no-startup",
                                     "--auto-dismiss-dialogs", "--verbose", "--help", "--version"})
                if (a == flag) return usage_error(a + " takes no value");
            return usage_error("unknown option '" + a + "'");
        } else if (a == "--headless") {
            options.headless = true;
        } else if (a == "--detach") {
            detach = true;
        } else if (a == "--no-startup") {
            options.startup = false;
        } else if (a == "--auto-dismiss-dialogs") {
            options.auto_dismiss_ms = 300;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else {
            return usage_error("unknown option '" + a + "'");
        }
    }
    options.shell = options.startup || shell;
    if (const char* named = std::getenv("LUMO_DEVICE"); options.dir.empty() && named && *named)
        options.dir = named;
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
            return WIFEXITED(status) && WEXITSTATUS(status) ? WEXITSTATUS(status) : 1;
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
    if (!lumo::host::settle_profile(options.dir, profile, &error)) {
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
