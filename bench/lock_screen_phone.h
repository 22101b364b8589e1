#pragma once
// lumo started over the fake on a staged phone, beside a stand-in for the service's window
// (without it lumo would start the service and end).
#include <functional>
#include <memory>

#include "lumo/lockscreen/lockscreen.h"
#include "staged_phone.h"

namespace lumo::bench {

struct LockScreenPhone : StagedPhone {
    // `prepare` runs before lumo starts (registry values, the clock).
    LockScreenPhone(const std::string& name, std::u16string_view command_line,
                    const std::function<void(platform::fake::FakePlatform&)>& prepare = {})
        : StagedPhone(name, u"\\Program Files\\Lumo\\lumo.exe") {
        if (prepare) prepare(fake);
        {
            auto scope = fake.as_process(77);
            fake.windows().register_class(u"Vardex2", [](platform::Hwnd, std::uint32_t, platform::WParam,
                                                        platform::LParam) { return 0; });
            platform::CreateWindowParams cp;
            cp.class_name = cp.title = u"Vardex2";
            fake.windows().create_window(cp);
        }
        ctx = std::make_unique<lockscreen::Context>(fake, fake.display());
        ctx->frame_clock = &clock;
        lockscreen::enter(*ctx, command_line);
        fake.run_until_idle();
    }
    ~LockScreenPhone() { ctx.reset(); }

    NoWaitClock clock;
    std::unique_ptr<lockscreen::Context> ctx;
};

}  // namespace lumo::bench
