// GIF pictures: frames composed as the file describes them, the format told by the content, and
// damaged or enormous files refused before they cost memory.
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "gif_file.h"
#include "lumo/gfx/load.h"
#include "lumo/platform/text.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

namespace fs = std::filesystem;
using lumo::test::GifFrame;
using lumo::test::GifSpec;
using lumo::test::solid_frame;
using lumo::test::write_gif;

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
                        kYellow = 0xFFFF00;

std::uint16_t Px(std::uint32_t rgb) {
    return RGBTo565(kRgb565, int(rgb >> 16 & 0xFF), int(rgb >> 8 & 0xFF), int(rgb & 0xFF));
}

fs::path CorpusDir() { return fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus" / "image_load"; }

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class GifLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        imaging = platform::make_sdl_imaging();
        screen = test::MakeScreen(48, 80);
        screen.imaging = imaging.get();
        dir = test::TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(dir); }

    std::u16string Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return platform::to_u16((dir / name).string());
    }

    std::unique_ptr<platform::Imaging> imaging;
    Screen screen;
    fs::path dir;
};

// A 4 × 3 red screen; a yellow diagonal with a transparent background and a palette of its own,
// cleared to the background afterwards; then two blue pixels with no control block.
GifSpec ThreeFrames() {
    GifSpec s{4, 3, {kRed, kGreen, kBlue, kWhite}, {}};
    GifFrame a = solid_frame(0, 0, 4, 3, 0);
    a.delay_cs = 10;
    GifFrame b = solid_frame(1, 1, 2, 2, 0);
    b.indices = {1, 0, 0, 1};
    b.palette = {0x000000, kYellow};
    b.transparent = 0;
    b.disposal = DISPOSE_BACKGROUND;
    b.delay_cs = 25;
    GifFrame c = solid_frame(0, 0, 2, 1, 2);
    c.control = false;
    s.frames = {a, b, c};
    return s;
}

TEST_F(GifLoadTest, AnimationFramesAreComposedWithTheirDelays) {
    auto path = Put("anim.gif", write_gif(ThreeFrames()));
    Image img;
    ASSERT_EQ(LoadAnimation(img, screen, path), 3) << imaging->last_error();
    ASSERT_EQ(img.width, 12);
    ASSERT_EQ(img.height, 3);
    const std::uint16_t R = Px(kRed), Y = Px(kYellow), B = Px(kBlue), K = 0;
    const std::uint16_t expected[3][3][4] = {
        {{R, R, R, R}, {R, R, R, R}, {R, R, R, R}},
        {{R, R, R, R}, {R, Y, R, R}, {R, R, Y, R}},  // transparent pixels keep the red below
        {{B, B, R, R}, {R, K, K, R}, {R, K, K, R}},  // the diagonal's rectangle was cleared
    };
    for (int f = 0; f < 3; ++f)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(img.at(f * 4 + x, y), expected[f][y][x]) << "frame " << f << " at " << x << "," << y;
    // Hundredths as written; a frame without a control block keeps the delay before it.
    EXPECT_EQ(GetFrameDelay(img, 1), 10);
    EXPECT_EQ(GetFrameDelay(img, 2), 25);
    EXPECT_EQ(GetFrameDelay(img, 3), 25);

    // As a still picture the file is its first frame.
    ASSERT_TRUE(LoadImageFile(img, screen, path, kFitNative, 0, 0));
    EXPECT_EQ(img.width, 4);
    EXPECT_EQ(img.at(3, 2), R);
}

TEST_F(GifLoadTest, DisposalToThePreviousFrameAndInterlacedRows) {
    GifSpec s{3, 9, {kRed, kGreen, kBlue, kWhite}, {}};
    GifFrame a = solid_frame(0, 0, 3, 9, 0);
    a.interlace = true;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 3; ++x) a.indices[std::size_t(y * 3 + x)] = std::uint8_t(y % 4);
    GifFrame b = solid_frame(0, 0, 3, 2, 3);
    b.disposal = DISPOSE_PREVIOUS;
    GifFrame c = solid_frame(2, 8, 1, 1, 3);
    s.frames = {a, b, c};
    auto path = Put("interlaced.gif", write_gif(s));
    Image img;
    ASSERT_EQ(LoadAnimation(img, screen, path), 3) << imaging->last_error();
    const std::uint16_t colour[] = {Px(kRed), Px(kGreen), Px(kBlue), Px(kWhite)};
    for (int y = 0; y < 9; ++y) EXPECT_EQ(img.at(1, y), colour[y % 4]) << "row " << y;
    EXPECT_EQ(img.at(3 + 1, 0), Px(kWhite));
    EXPECT_EQ(img.at(3 + 1, 1), Px(kWhite));
    // The second frame was undone before the third.
    EXPECT_EQ(img.at(6 + 1, 0), colour[0]);
    EXPECT_EQ(img.at(6 + 1, 1), colour[1]);
    EXPECT_EQ(img.at(6 + 2, 8), Px(kWhite));
    EXPECT_EQ(img.at(6 + 1, 8), colour[0]);
}

TEST_F(GifLoadTest, TheContentDecidesTheFormatNotTheName) {
    auto gif = write_gif(ThreeFrames());
    Image img;
    // A GIF named like a PNG: decoded as GIF, with its transparency as an alpha plane.
    GifSpec t{2, 1, {kGreen, kWhite}, {solid_frame(0, 0, 2, 1, 0)}};
    t.frames[0].indices = {0, 1};
    t.frames[0].transparent = 1;
    ASSERT_TRUE(LoadImageFile(img, screen, Put("arrows.png", write_gif(t)), kFitNative, 0, 0))
        << imaging->last_error();
    ASSERT_TRUE(img.has_alpha());
    EXPECT_EQ(img.alpha[0], 32);
    EXPECT_EQ(img.alpha[1], 0);
    EXPECT_EQ(img.at(0, 0), Px(kGreen));

    auto jpg = Put("wallpaper.jpg", gif);
    ASSERT_TRUE(LoadImageFile(img, screen, jpg, kFitNative, 0, 0));
    EXPECT_EQ(img.at(0, 0), Px(kRed));
    EXPECT_EQ(LoadAnimation(img, screen, jpg), 3);

    // And a PNG named .gif is a still picture of one frame.
    std::vector<std::uint8_t> rgba = {1, 2, 3, 255, 4, 5, 6, 255};
    ASSERT_TRUE(imaging->save_png(dir / "real.png", 2, 1, rgba));
    fs::rename(dir / "real.png", dir / "still.gif");
    EXPECT_EQ(LoadAnimation(img, screen, platform::to_u16((dir / "still.gif").string())), 1);
    EXPECT_EQ(img.width, 2);
}

TEST_F(GifLoadTest, DamagedFilesKeepWhatDecodedOrFailCleanly) {
    auto frames_of = [&](const char* name) {
        Image img;
        int n = LoadAnimationMemory(img, screen, ReadAll(CorpusDir() / name));
        if (n > 0) {
            EXPECT_EQ(img.width % n, 0) << name;
        }
        return n;
    };
    EXPECT_EQ(frames_of("animated.gif"), 4);
    EXPECT_EQ(frames_of("no_trailer.gif"), 4);          // the end marker is not needed
    EXPECT_GE(frames_of("truncated_in_frame.gif"), 1);  // complete frames are kept
    EXPECT_LT(frames_of("truncated_in_frame.gif"), 4);
    EXPECT_EQ(frames_of("truncated_header.gif"), 0);
    EXPECT_EQ(frames_of("zero_size_frame.gif"), 3);  // an empty frame counts but draws nothing
    EXPECT_EQ(frames_of("frame_outside_screen.gif"), 2);  // clipped to the screen
    EXPECT_EQ(frames_of("gif87a.gif"), 1);

    Image img;
    // No colour map at all, or indices past its end: black, not memory beyond the map.
    ASSERT_TRUE(LoadImageMemory(img, screen, ReadAll(CorpusDir() / "no_colour_map.gif"), false, 0, 0, 0));
    EXPECT_EQ(img.at(0, 0), 0);
    ASSERT_TRUE(LoadImageMemory(img, screen, ReadAll(CorpusDir() / "index_beyond_map.gif"), false, 0, 0, 0));
    EXPECT_EQ(img.at(0, 0), Px(kRed));
    EXPECT_EQ(img.at(3, 3), 0);
}

TEST_F(GifLoadTest, EnormousGifsAreRefusedFromTheirRecords) {
    const std::pair<const char*, const char*> cases[] = {
        {"huge_frame.gif", "frame of 65535x65535"},
        {"huge_screen_tiny_frame.gif", "screen of 65535x65535"},
        {"many_frames_big_screen.gif", "50 frames"},
        {"too_many_frames.gif", "too many frames"},
    };
    for (auto [name, reason] : cases) {
        auto bytes = ReadAll(CorpusDir() / name);
        ASSERT_FALSE(bytes.empty()) << name;
        Image img;
        EXPECT_EQ(LoadAnimationMemory(img, screen, bytes), 0) << name;
        EXPECT_NE(imaging->last_error().find(reason), std::string::npos) << name << ": " << imaging->last_error();
        EXPECT_TRUE(img.empty());
    }
    // One frame of a 4096 × 4096 screen is a still picture within bounds.
    Image img;
    EXPECT_TRUE(LoadImageMemory(img, screen, ReadAll(CorpusDir() / "many_frames_big_screen.gif"), false,
                                kFitInside, 0, 0));
}

// Loads every seed in a child whose data is capped; the exit code tells how it went.
int LoadSeeds(const std::vector<fs::path>& files) {
    std::ifstream status("/proc/self/status");
    std::size_t data_kb = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmData:", 0) == 0) data_kb = std::stoul(line.substr(7));
    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = rlim_t(data_kb + 2048 * 1024) * 1024;
    setrlimit(RLIMIT_DATA, &cap);
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    auto imaging = platform::make_sdl_imaging();
    Screen screen = test::MakeScreen(48, 80);
    screen.imaging = imaging.get();
    for (const auto& f : files) {
        auto bytes = ReadAll(f);
        Image img;
        if (LoadImageMemory(img, screen, bytes, true, kFitLongSide, 0, 0) && img.empty()) return 2;
        int n = LoadAnimationMemory(img, screen, bytes);
        if (n > 0 && (img.empty() || img.width % n != 0)) return 3;
    }
    getrusage(RUSAGE_SELF, &after);
    const long grown_mb = (after.ru_maxrss - before.ru_maxrss) / 1024;
    std::fprintf(stderr, "peak grew by %ld MB\n", grown_mb);
    return grown_mb < 768 ? 0 : 4;
}

// Every seed picture loads or is refused without the decoder ever touching more than a few
// hundred megabytes: one that sizes its buffers from a frame or a screen before checking them
// shows in the child's peak memory. (The data limit only keeps a faulty decoder from taking the
// machine with it.)
TEST(GifCorpusTest, SeedsLoadOrAreRefusedWithinBoundedMemory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(CorpusDir())) files.push_back(e.path());
    ASSERT_GE(files.size(), 10u);
    EXPECT_EXIT(std::exit(LoadSeeds(files)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lumo::gfx
