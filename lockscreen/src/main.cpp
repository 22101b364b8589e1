// lumo: the lock screen. The device host passes the whole command line as one argument.
#include <cstdio>
#include <string>

#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"

int main(int argc, char** argv) {
    std::string error;
    auto platform = lumo::platform::device::connect("", u"lumo", &error);
    if (!platform) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        return 1;
    }
    std::u16string command_line = argc > 1 ? lumo::platform::to_u16(argv[1]) : std::u16string();
    return lumo::lockscreen::run_program(*platform, platform->display(), command_line);
}
