#pragma once
// The settings program over the fake platform: a phone whose program folder holds the staged
// theme, a stand-in service that records what reaches it and ends on WM_CLOSE (unless told to
// hang), and helpers that tap where the program draws its rows and buttons.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/settings/settings.h"

namespace lumo::settings::testing_support {

struct Seen {
    std::uint32_t msg;
    platform::WParam w;
};

class SettingsFixture : public ::testing::Test {
public:
    enum class Where { Row, Minus, Plus };

protected:
    SettingsFixture();
    ~SettingsFixture() override;

    // The service's first start: every default and the sub-key values.
    void write_first_start_defaults();
    EntryResult start(std::u16string_view command_line = u"");
    void tap(int x, int y);
    void drag(int x, int y1, int y2, int steps, int ms_per_step);
    // Opens page `page` from the main menu (scrolling it into view when needed).
    void open_page(int page);
    // Taps item `index` of the open page: on its minus or plus area, or on its row.
    void tap_item(int index, Where where = Where::Row);
    // Scrolls the open list so that item `index` is in view.
    void bring_into_view(int index);
    void press_bottom(int button, int of = 3);
    const Item& item(int page, int index) const { return ctx->pages[std::size_t(page)].items[std::size_t(index)]; }
    int count_seen(std::uint32_t msg) const;
    std::filesystem::path host(std::u16string_view device_path);
    std::u16string program_folder() const { return u"\\Program Files\\Lumo"; }
    std::string log_text();

    platform::fake::FakePlatform fake;
    std::filesystem::path root;
    std::unique_ptr<Context> ctx;
    std::uint32_t service_pid = 0;
    platform::Hwnd service = 0, lock = 0;
    bool service_hangs = false;
    bool service_closed = false;
    int sleeps = 0;
    std::vector<Seen> seen;
};

std::filesystem::path stage_dir();

}  // namespace lumo::settings::testing_support
