#include "settings_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"

namespace lumo::settings::testing_support {

namespace fs = std::filesystem;
using namespace platform;

fs::path stage_dir() { return fs::path(LUMO_STAGE_DIR); }

SettingsFixture::SettingsFixture() {
    root = fs::temp_directory_path() / ("lumo-settings-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::remove_all(root);
    auto folder = root / "Program Files" / "Lumo";
    fs::create_directories(folder);
    fs::copy(stage_dir() / "Program Files" / "Lumo" / "gfx", folder / "gfx", fs::copy_options::recursive);
    fs::copy_file(stage_dir() / "Program Files" / "Lumo" / "lang.ini", folder / "lang.ini");
    fake.set_host_root(root);
    fake.set_own_path(u"\\Program Files\\Lumo\\LumoSettings.exe");
    fake.set_local_time({2026, 12, 1, 7, 9, 5, 0, 0});
    service_pid = fake.add_process(u"\\Program Files\\Lumo\\Vardex2.exe");
    {
        auto scope = fake.as_process(service_pid);
        fake.windows().register_class(u"Vardex2", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
            seen.push_back({msg, w});
            if (msg == WM_CLOSE) service_closed = true;
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"Vardex2";
        cp.title = u"Vardex2";
        service = fake.windows().create_window(cp);
        fake.windows().register_class(u"Lumo", [this](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
            seen.push_back({msg | 0x10000000u, w});  // marked as lumo's
            return 0;
        });
        cp.class_name = u"Lumo";
        cp.title = u"Lumo";
        lock = fake.windows().create_window(cp);
    }
    catalogue::open_root(fake.registry());
}

SettingsFixture::~SettingsFixture() {
    ctx.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
}

void SettingsFixture::write_first_start_defaults() {
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_defaults(fake.registry(), key->key, catalogue::Values::defaults(protocol::Program::Service, 255));
    catalogue::create_missing_subkey_values(fake.registry());
}

EntryResult SettingsFixture::start(std::u16string_view command_line) {
    ctx = std::make_unique<Context>(fake, fake.display());
    ctx->sleep = [this](std::uint32_t ms) {
        ++sleeps;
        fake.run_for(ms);
        // The stand-in ends once it has seen its close, unless it hangs.
        if (service_closed && !service_hangs && fake.is_running(service_pid))
            fake.processes().terminate(service_pid);
    };
    auto r = enter(*ctx, command_line);
    fake.run_until_idle();
    return r;
}

void SettingsFixture::tap(int x, int y) {
    LParam l = LParam(std::uint32_t(y) << 16 | std::uint32_t(x & 0xFFFF));
    fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, l);
    fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, l);
    fake.run_until_idle();
}

void SettingsFixture::drag(int x, int y1, int y2, int steps, int ms_per_step) {
    auto lp = [x](int y) { return LParam(std::uint32_t(y) << 16 | std::uint32_t(x & 0xFFFF)); };
    fake.windows().send(ctx->main_window, WM_LBUTTONDOWN, 1, lp(y1));
    for (int i = 1; i <= steps; ++i) {
        fake.advance(std::uint64_t(ms_per_step));
        fake.windows().send(ctx->main_window, WM_MOUSEMOVE, 1, lp(y1 + (y2 - y1) * i / steps));
    }
    fake.windows().send(ctx->main_window, WM_LBUTTONUP, 0, lp(y2));
    fake.run_until_idle();
}

void SettingsFixture::bring_into_view(int index) {
    auto l = layout(*ctx);
    for (int guard = 0; guard < 50; ++guard) {
        int first = -1, last = -1, top = -1, item_top = 0;
        for (int y = l.top; y < l.bottom; ++y) {
            int i = item_at(*ctx, y, &item_top);
            if (i < 0) continue;
            if (first < 0) first = i;
            last = i;
            if (i == index && top < 0) top = item_top;
        }
        if (top >= 0) {
            int h = ctx->state == ScreenState::Page
                        ? item_height(*ctx, ctx->pages[std::size_t(ctx->page)].items[std::size_t(index)])
                        : item_height(*ctx, Item{});
            if (top >= l.top && top + h <= l.bottom) return;
        }
        // Scroll by a slow drag, which leaves no fling behind.
        int mid = (l.top + l.bottom) / 2;
        bool down = index >= last || (top >= 0 && top > mid);
        int span = (l.bottom - l.top) / 3;
        drag(ctx->screen_width / 2, mid, down ? mid - span : mid + span, 10, 1000);
        fake.run_for(2000);
        (void)first;
    }
    FAIL() << "item " << index << " never came into view";
}

void SettingsFixture::open_page(int page) {
    bring_into_view(page);
    auto l = layout(*ctx);
    for (int y = l.top; y < l.bottom; ++y) {
        if (item_at(*ctx, y) == page) {
            tap(ctx->screen_width / 2, y + 5);
            return;
        }
    }
    FAIL() << "page row " << page << " not found";
}

void SettingsFixture::tap_item(int index, Where where) {
    bring_into_view(index);
    auto l = layout(*ctx);
    int top = -1;
    for (int y = l.top; y < l.bottom; ++y)
        if (item_at(*ctx, y, &top) == index) break;
    ASSERT_GE(top, 0);
    int pad = gfx::ScaleUnit(ctx->screen, 4);
    int row_width = ctx->screen_width - 2 * pad - gfx::ScaleUnit(ctx->screen, 6);
    auto a = step_areas(*ctx, row_width);
    int x = where == Where::Minus ? pad + (a.minus_left + a.minus_right) / 2
            : where == Where::Plus ? pad + (a.plus_left + a.plus_right) / 2
                                   : pad + 10;
    tap(x, top + 5);
}

void SettingsFixture::press_bottom(int button, int of) {
    int w = ctx->screen_width / of;
    tap(w * button + w / 2, ctx->screen_height - 5);
}

int SettingsFixture::count_seen(std::uint32_t msg) const {
    int n = 0;
    for (auto& s : seen) n += s.msg == msg;
    return n;
}

fs::path SettingsFixture::host(std::u16string_view device_path) { return *fake.processes().host_path(device_path); }

std::string SettingsFixture::log_text() {
    std::ifstream in(host(program_folder() + u"\\lumo Settings.log"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    return to_utf8(text);
}

}  // namespace lumo::settings::testing_support
