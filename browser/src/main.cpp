// LumoC: the picture and file browser. The device host passes the whole command line as one argument.
#include <cstdio>
#include <string>

#include "lumo/browser/browser.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"

int main(int argc, char** argv) {
    std::string error;
    auto platform = lumo::platform::device::connect("", u"LumoC", &error);
    if (!platform) {
        std::fprintf(stderr, "LumoC: %s\n", error.c_str());
        return 1;
    }
    std::u16string command_line = argc > 1 ? lumo::platform::to_u16(argv[1]) : std::u16string();
    return lumo::browser::run_program(*platform, platform->display(), command_line);
}
