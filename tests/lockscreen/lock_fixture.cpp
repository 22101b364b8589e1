#include "lock_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"

namespace lumo::lockscreen::testing_support {

namespace fs = std::filesystem;
using namespace platform;

fs::path stage_dir() { return fs::path(LUMO_STAGE_DIR); }

namespace {

// The real decoder, with the fixture's hook called before each picture is opened.
class HookedImaging final : public Imaging {
public:
    HookedImaging(std::unique_ptr<Imaging> real, const std::function<void(std::u16string_view)>& hook)
        : real_(std::move(real)), hook_(hook) {}
    std::unique_ptr<DecodedPicture> open(std::u16string_view path) override {
        if (hook_) hook_(path);
        return real_->open(path);
    }
    std::unique_ptr<DecodedPicture> open_memory(std::span<const std::uint8_t> bytes) override {
        return real_->open_memory(bytes);
    }
    std::optional<DecodedAnimation> load_animation(std::u16string_view path) override {
        if (hook_) hook_(path);
        return real_->load_animation(path);
    }
    std::optional<DecodedAnimation> load_animation_memory(std::span<const std::uint8_t> bytes) override {
        return real_->load_animation_memory(bytes);
    }
    bool save_png(const fs::path& host_path, int width, int height, std::span<const std::uint8_t> rgba) override {
        return real_->save_png(host_path, width, height, rgba);
    }

private:
    std::unique_ptr<Imaging> real_;
    const std::function<void(std::u16string_view)>& hook_;
};

}  // namespace

LockFixture::LockFixture() {
    root = fs::temp_directory_path() / ("lumo-lock-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::remove_all(root);
    auto folder = root / "Program Files" / "Lumo";
    fs::create_directories(folder);
    fs::create_directory_symlink(stage_dir() / "Program Files" / "Lumo" / "gfx", folder / "gfx");
    fs::copy_file(stage_dir() / "Program Files" / "Lumo" / "lang.ini", folder / "lang.ini");
    fs::create_directories(root / "My Documents");
    fs::create_directory_symlink(stage_dir() / "My Documents" / "My Pictures", root / "My Documents" / "My Pictures");
    fake.set_host_root(root);
    fake.set_own_path(u"\\Program Files\\Lumo\\lumo.exe");
    fake.set_local_time({2026, 12, 1, 7, 9, 5, 0, 0});
    {
        auto scope = fake.as_process(77);
        fake.windows().register_class(u"Vardex2", [this](Hwnd, std::uint32_t msg, WParam w, LParam l) -> LResult {
            seen.push_back({msg, w, l});
            return 0;
        });
        CreateWindowParams cp;
        cp.class_name = u"Vardex2";
        cp.title = u"Vardex2";
        service = fake.windows().create_window(cp);
    }
    catalogue::open_root(fake.registry());
}

LockFixture::~LockFixture() {
    ctx.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
}

void LockFixture::use_copied_theme() {
    auto gfx = root / "Program Files" / "Lumo" / "gfx";
    fs::remove(gfx);
    fs::copy(stage_dir() / "Program Files" / "Lumo" / "gfx", gfx, fs::copy_options::recursive);
}

void LockFixture::set_byte(std::u16string_view name, std::uint8_t v) {
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_byte(fake.registry(), key->key, name, v);
}
void LockFixture::set_number(std::u16string_view name, std::uint32_t v) {
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_number(fake.registry(), key->key, name, v);
}
void LockFixture::set_text(std::u16string_view name, std::u16string_view v) {
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_text(fake.registry(), key->key, name, v);
}

EntryResult LockFixture::start(std::u16string_view command_line) {
    ctx = std::make_unique<Context>(fake, fake.display());
    ctx->frame_clock = &frames;
    auto& procs = fake.processes();
    ctx->imaging = std::make_unique<HookedImaging>(
        make_sdl_imaging([&procs](std::u16string_view path) { return procs.host_path(path); }), on_picture_open);
    auto r = enter(*ctx, command_line);
    fake.run_until_idle();
    return r;
}

void LockFixture::lock_now() {
    fake.windows().post(ctx->main_window, WM_SETFOCUS, 0, 0);
    fake.run_until_idle();
}

void LockFixture::send(std::uint32_t msg, WParam w, LParam l) {
    fake.windows().send(ctx->main_window, msg, w, l);
    fake.run_until_idle();
}

void LockFixture::anim_ticks(int n) {
    for (int i = 0; i < n; ++i) fake.run_for(kAnimPeriodMs);
}

std::vector<Seen> LockFixture::service_seen() {
    fake.run_until_idle();
    return seen;
}

int LockFixture::count_seen(std::uint32_t msg) {
    int n = 0;
    for (auto& s : service_seen()) n += s.msg == msg;
    return n;
}

bool LockFixture::main_visible() {
    auto info = fake.windows().window_info(ctx->main_window);
    return info && info->visible;
}

std::string LockFixture::log_text() {
    std::ifstream in(host(program_folder() + u"\\lumo.log"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    return to_utf8(text);
}

fs::path LockFixture::host(std::u16string_view device_path) {
    return *fake.processes().host_path(device_path);
}

}  // namespace lumo::lockscreen::testing_support
