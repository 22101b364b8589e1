// Choosing and opening a display back-end over the fake display: the profile table, the
// DisplayMode and switch rules, fallbacks, rotation codes, presenting, suspend and the log lines.
#include <gtest/gtest.h>

#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/draw.h"
#include "lumo/gfx/image.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/platform/imaging.h"

namespace lumo::gfx {
namespace {

using platform::fake::FakeDisplay;

class BackendOnFake : public testing::Test {
protected:
    // Opens with a request; returns the back-end opened (0: failure).
    int open(int requested) {
        int backend = requested;
        if (!OpenScreen(screen, display, 7, backend, imaging.get(),
                        [this](const std::string& l) { log.push_back(l); }))
            return 0;
        return backend;
    }
    FakeDisplay display;
    std::unique_ptr<platform::Imaging> imaging = platform::make_sdl_imaging();
    Screen screen;
    std::vector<std::string> log;
};

TEST(DeviceProfiles, OemPrefixesPickTheBackendInTableOrder) {
    struct Row {
        const char16_t* oem;
        int requested, expected;
    };
    const Row rows[] = {
        {u"HTC Touch HD T8282", 2, 2},  // before the "HTC" row: keeps the request
        {u"HTC Touch HD", 3, 3},
        {u"HTC Diamond", 2, 1},
        {u"Kaiser", 3, 1},
        {u"X1i", 2, 1},
        {u"Palm Treo 800w", 1, 3},
        {u"Asus CANNES", 1, 2},
        {u"PM300", 2, 1},
        {u"SAMSUNG SCH-i770", 1, 2},
        {u"SAMSUNG SGH-i900", 2, 1},
        {u"SEDN100", 2, 1},
        {u"Lumo Phone VGA", 2, 2},
        {u"htc lowercase", 2, 2},  // prefixes compare exactly
        {u"", 3, 3},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ProfileBackend(r.oem, r.requested), r.expected)
            << "OEM '" << std::string(std::u16string_view(r.oem).begin(), std::u16string_view(r.oem).end())
            << "' asked " << r.requested;
}

TEST(DeviceProfiles, SwitchesOverrideTheDisplayModeSetting) {
    EXPECT_EQ(RequestedBackend(0), 1);
    EXPECT_EQ(RequestedBackend(1), 2);
    EXPECT_EQ(RequestedBackend(2), 3);
    EXPECT_EQ(RequestedBackend(0, u"-ddraw"), 2);
    EXPECT_EQ(RequestedBackend(2, u"-ddrawx something"), 2);
    EXPECT_EQ(RequestedBackend(0, u"-gdi"), 3);
    EXPECT_EQ(RequestedBackend(1, u" -gdi"), 2);  // must begin with it
    EXPECT_EQ(RequestedBackend(7), 1);
    EXPECT_EQ(RequestedBackend(-3), 1);
}

TEST(RotationCodes, AnglesFoldIntoOneTurn) {
    EXPECT_EQ(RotationFromAngle(-90), kRotate270);
    EXPECT_EQ(RotationFromAngle(270), kRotate270);
    EXPECT_EQ(RotationFromAngle(630), kRotate270);
    EXPECT_EQ(RotationFromAngle(90), kRotate90);
    EXPECT_EQ(RotationFromAngle(-270), kRotate90);
    EXPECT_EQ(RotationFromAngle(180), kRotate180);
    EXPECT_EQ(RotationFromAngle(540), kRotate180);
    EXPECT_EQ(RotationFromAngle(360), kRotate0);
    EXPECT_EQ(RotationFromAngle(45), kRotate0);
}

TEST_F(BackendOnFake, FrameBufferPresentsTheBackBufferIntoDisplayMemory) {
    ASSERT_EQ(open(1), 1);
    EXPECT_EQ(screen.backend, Backend::RawFrameBuffer);
    EXPECT_EQ(screen.width, 480);
    EXPECT_EQ(screen.height, 800);
    EXPECT_EQ(screen.dpi_x, 192);
    for (std::size_t i = 0; i < screen.pixel_count; ++i) screen.back_buffer[i] = std::uint16_t(i * 13);
    ASSERT_TRUE(PresentScreen(screen));
    EXPECT_EQ(display.frames_ready, 1);
    EXPECT_EQ(display.last_window, 7u);
    EXPECT_EQ(display.pixel(0, 0), 0);
    EXPECT_EQ(display.pixel(479, 799), std::uint16_t((799 * 480 + 479) * 13));
    EXPECT_TRUE(display.keys_routed);  // no GX library: the platform routes the keys
    EXPECT_EQ(log, std::vector<std::string>{"Angle=0"});
}

TEST_F(BackendOnFake, PaddedRowsAreSkippedNotOverrun) {
    display.pitch_pixels = 512;
    display.resize();
    std::fill(display.memory.begin(), display.memory.end(), 0xDEAD);
    ASSERT_EQ(open(1), 1);
    std::fill_n(screen.back_buffer.get(), screen.pixel_count, 0x1234);
    ASSERT_TRUE(PresentScreen(screen));
    EXPECT_EQ(display.pixel(479, 10), 0x1234);
    EXPECT_EQ(display.memory[10 * 512 + 480], 0xDEAD);  // padding untouched
    EXPECT_EQ(display.pixel(479, 799), 0x1234);
}

TEST_F(BackendOnFake, Rgb555FrameBufferSetsThe555Format) {
    display.escape_format = platform::kFrameFormatRgb555;
    ASSERT_EQ(open(1), 1);
    EXPECT_EQ(screen.format.red_shift, kRgb555.red_shift);
}

TEST_F(BackendOnFake, FailedEscapeFallsBackToDirectDraw) {
    display.escape_answers = false;
    ASSERT_EQ(open(1), 2);
    EXPECT_EQ(display.calls, (std::vector<std::string>{"escape", "ddraw"}));
    EXPECT_EQ(display.primary_flags, platform::kSurfaceVideoMemory | platform::kSurfacePrimary);
}

TEST_F(BackendOnFake, DirectDrawFallsBackToTheFrameBuffer) {
    display.direct_draw_present = false;
    ASSERT_EQ(open(2), 1);
    EXPECT_EQ(display.calls, (std::vector<std::string>{"ddraw", "escape"}));
}

TEST_F(BackendOnFake, DirectDrawSurfaceFlagsFollowCapsAndMemory) {
    display.escape_answers = false;
    display.ddraw_caps.video_memory = 1000;  // too little for a frame: system memory
    ASSERT_EQ(open(2), 2);
    EXPECT_EQ(display.primary_flags, platform::kSurfaceSystemMemory | platform::kSurfacePrimary);
    CloseScreen(screen);
    display.ddraw_caps.caps = platform::kSurfaceVideoMemory | platform::kSurfaceSystemMemory;
    EXPECT_EQ(open(2), 0);  // no primary surface offered
    EXPECT_EQ(screen.last_error, kErrorNoBackend);
}

TEST_F(BackendOnFake, NothingOpensGivesError100) {
    display.escape_answers = false;
    display.direct_draw_present = false;
    display.gdi_works = false;
    EXPECT_EQ(open(3), 0);
    EXPECT_EQ(display.calls, (std::vector<std::string>{"gdi", "escape", "ddraw"}));
    EXPECT_EQ(screen.last_error, kErrorNoBackend);
    EXPECT_FALSE(screen.back_buffer);
}

TEST_F(BackendOnFake, GdiRequestNeverReadsTheOemString) {
    display.oem = u"HTC Diamond";  // would force the frame buffer
    ASSERT_EQ(open(3), 3);
    EXPECT_EQ(display.calls, std::vector<std::string>{"gdi"});
    std::fill_n(screen.back_buffer.get(), screen.pixel_count, 0x0F0F);
    ASSERT_TRUE(PresentScreen(screen));
    EXPECT_EQ(display.pixel(200, 300), 0x0F0F);
    SetScreenRotation(screen, kRotate90);
    EXPECT_EQ(screen.rotation, kRotate0);  // GDI draws unrotated
}

TEST_F(BackendOnFake, ProfileOverridesTheRequest) {
    display.oem = u"SAMSUNG SCH-i770";
    EXPECT_EQ(open(1), 2);
}

TEST_F(BackendOnFake, LostSurfaceIsRestoredOncePerPresent) {
    display.escape_answers = false;
    ASSERT_EQ(open(2), 2);
    int restores = display.restores;  // setting the rotation restores too
    display.surface_lost = true;
    EXPECT_TRUE(PresentScreen(screen));
    EXPECT_EQ(display.restores, restores + 1);
    display.surface_lost = true;
    display.restore_works = false;
    int frames = display.frames_ready;
    EXPECT_FALSE(PresentScreen(screen));  // dropped, next present tries again
    EXPECT_EQ(display.frames_ready, frames);
}

TEST_F(BackendOnFake, SuspendRefusesPresentsAndReleasesKeys) {
    display.gx_present = true;
    ASSERT_EQ(open(1), 1);
    EXPECT_EQ(display.gx_opens, 1);
    SuspendScreen(screen);
    EXPECT_EQ(display.gx_closes, 1);
    EXPECT_FALSE(PresentScreen(screen));
    EXPECT_EQ(screen.last_error, kErrorSuspended);
    EXPECT_EQ(display.frames_ready, 0);
    ResumeScreen(screen);
    EXPECT_EQ(display.gx_opens, 2);
    EXPECT_TRUE(PresentScreen(screen));
}

TEST_F(BackendOnFake, TurnedDisplayKeepsTheMemoryLayoutAndTurnsTheDrawing) {
    display.orientation = 90;
    ASSERT_EQ(open(1), 1);
    EXPECT_EQ(log, std::vector<std::string>{"Angle=90"});
    EXPECT_EQ(screen.width, 480);  // display memory's own layout
    EXPECT_EQ(screen.height, 800);
    EXPECT_EQ(screen.base_xpitch, 2);
    EXPECT_EQ(screen.base_ypitch, 960);
    EXPECT_EQ(screen.display_orientation, kRotate90);
    EXPECT_EQ(screen.rotation, kRotate90);
    EXPECT_EQ(screen.logical_width, 800);
    EXPECT_EQ(screen.logical_height, 480);
}

// A picture of the turned screen's size whose every pixel is different enough to show a
// misplaced one.
Image landscape_pattern(int w, int h) {
    Image img;
    ResizeBuffers(img, w, h, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.row(y)[x] = std::uint16_t((x * 31 + y * 977) ^ (y << 9));
    return img;
}

TEST_F(BackendOnFake, EveryBackEndShowsTheDrawnPictureUprightAtEveryAngle) {
    struct Case {
        int backend, angle, pitch;
    };
    const Case cases[] = {
        {1, 90, 480}, {1, 180, 480}, {1, 270, 480}, {1, 90, 512},  // padded rows
        {2, 90, 480}, {2, 180, 480}, {2, 270, 480}, {2, 270, 512},
        {3, 90, 480}, {3, 270, 480}, {1, 0, 480},   {2, 0, 480},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE("back-end " + std::to_string(k.backend) + " at " + std::to_string(k.angle) +
                     " pitch " + std::to_string(k.pitch));
        display = FakeDisplay();
        display.pitch_pixels = k.pitch;
        display.resize();
        display.orientation = k.angle;
        if (k.backend == 2) display.escape_answers = false;
        Screen fresh;
        std::swap(screen, fresh);
        ASSERT_EQ(open(k.backend), k.backend);
        bool quarter = k.angle == 90 || k.angle == 270;
        int w = quarter ? 800 : 480, h = quarter ? 480 : 800;
        ASSERT_EQ(screen.logical_width, w);
        ASSERT_EQ(screen.logical_height, h);
        Image pic = landscape_pattern(w, h);
        ASSERT_TRUE(DrawImage(pic, screen, 0, 0, 0, 0, 0, kCopy, 32));
        ASSERT_TRUE(PresentScreen(screen));
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (display.seen(x, y) != pic.row(y)[x] && wrong++ < 3)
                    ADD_FAILURE() << "seen " << x << "," << y << " = " << display.seen(x, y)
                                  << ", drawn " << pic.row(y)[x];
        EXPECT_EQ(wrong, 0);
        if (k.pitch > 480) {
            EXPECT_EQ(display.memory[10 * k.pitch + 480], 0);  // padding untouched
        }
    }
}

TEST_F(BackendOnFake, DirectDrawFollowsATurnAfterItWasOpened) {
    display.escape_answers = false;
    ASSERT_EQ(open(2), 2);
    display.orientation = 270;  // the surface is now described from the turned corner
    SetScreenRotation(screen, kRotate270);
    ASSERT_EQ(screen.logical_width, 800);
    Image pic = landscape_pattern(800, 480);
    ASSERT_TRUE(DrawImage(pic, screen, 0, 0, 0, 0, 0, kCopy, 32));
    ASSERT_TRUE(PresentScreen(screen));
    EXPECT_EQ(display.seen(0, 0), pic.row(0)[0]);
    EXPECT_EQ(display.seen(799, 0), pic.row(0)[799]);
    EXPECT_EQ(display.seen(0, 479), pic.row(479)[0]);
    EXPECT_EQ(display.seen(456, 123), pic.row(123)[456]);
}

TEST_F(BackendOnFake, WithoutImagingTheScreenDoesNotOpen) {
    imaging.reset();
    EXPECT_EQ(open(1), 0);
    EXPECT_FALSE(screen.back_buffer);
}

TEST_F(BackendOnFake, StartupLinesDescribeTheDevice) {
    display.orientation = 180;
    ASSERT_EQ(open(1), 1);
    auto lines = ScreenStartupLines(screen, display, "Lumo 1.0", 0xABC);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Lumo 1.0 0xABC");
    EXPECT_EQ(lines[1], "Lumo Fake Phone");
    EXPECT_EQ(lines[2], "sysWidth=480 sysHeight=800 sx(100:200) sy(100:200)");
    EXPECT_EQ(lines[3], "WM5.2 21234 A=2 D=1");
}

}  // namespace
}  // namespace lumo::gfx
