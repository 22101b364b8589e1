// Vardex2: the lock service. The device passes the whole command line as one argument.
#include <cstdio>
#include <string>

#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/service/service.h"

int main(int argc, char** argv) {
    std::string error;
    auto platform = lumo::platform::device::connect("", u"Vardex2", &error);
    if (!platform) {
        std::fprintf(stderr, "Vardex2: %s\n", error.c_str());
        return 0;
    }
    std::u16string command_line = argc > 1 ? lumo::platform::to_u16(argv[1]) : std::u16string();
    return lumo::service::run(*platform, command_line);
}
