// Loading pictures: the alpha rule, fit modes, animations and damaged files.
#include <fstream>

#include "lumo/gfx/load.h"
#include "lumo/platform/text.h"
#include "test_support.h"

namespace lumo::gfx {
namespace {

namespace fs = std::filesystem;

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        imaging = platform::make_sdl_imaging();
        screen = test::MakeScreen(48, 80);
        screen.imaging = imaging.get();
        dir = test::TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(dir); }

    // Writes a w × h picture whose pixel i has colour (i*7, i*3, 255 - i) and alpha alpha_of(i).
    std::u16string Write(const std::string& name, int w, int h, std::function<int(int)> alpha_of) {
        std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
        for (int i = 0; i < w * h; ++i) {
            rgba[i * 4] = std::uint8_t(i * 7);
            rgba[i * 4 + 1] = std::uint8_t(i * 3);
            rgba[i * 4 + 2] = std::uint8_t(255 - i);
            rgba[i * 4 + 3] = std::uint8_t(alpha_of(i));
        }
        EXPECT_TRUE(imaging->save_png(dir / "out.png", w, h, rgba));
        fs::rename(dir / "out.png", dir / name);
        return platform::to_u16((dir / name).string());
    }

    std::unique_ptr<platform::Imaging> imaging;
    Screen screen;
    fs::path dir;
};

TEST_F(LoadTest, PngAlphaBecomesAPlaneOfZeroToThirtyTwo) {
    const int alphas[] = {0, 255, 7, 8, 128, 254};
    auto path = Write("a.png", 6, 1, [&](int i) { return alphas[i]; });
    Image img;
    ASSERT_TRUE(LoadImageFile(img, screen, path, kFitNative, 0, 0));
    ASSERT_TRUE(img.has_alpha());
    EXPECT_EQ(std::vector<int>(img.alpha.get(), img.alpha.get() + 6),
              std::vector<int>({0, 32, 1, 1, 16, 31}));
    EXPECT_EQ(img.at(2, 0), RGBTo565(kRgb565, 14, 6, 253));  // colour kept, not premultiplied
}

TEST_F(LoadTest, OnlyNamesEndingInPngGetAnAlphaPlane) {
    auto png = Write("b.PnG", 4, 2, [](int i) { return i * 30; });
    Image img;
    ASSERT_TRUE(LoadImageFile(img, screen, png, kFitNative, 0, 0));
    EXPECT_TRUE(img.has_alpha());
    fs::copy_file(dir / "b.PnG", dir / "b.png.bak");
    auto other = platform::to_u16((dir / "b.png.bak").string());
    ASSERT_TRUE(LoadImageFile(img, screen, other, kFitNative, 0, 0));
    EXPECT_FALSE(img.has_alpha());
    // Drawn over black: pixel 1 has alpha 30.
    EXPECT_EQ(img.at(1, 0), RGBTo565(kRgb565, (7 * 30 + 127) / 255, (3 * 30 + 127) / 255, (254 * 30 + 127) / 255));
    auto opaque = Write("c.png", 3, 3, [](int) { return 255; });
    ASSERT_TRUE(LoadImageFile(img, screen, opaque, kFitNative, 0, 0));
    EXPECT_FALSE(img.has_alpha());
    EXPECT_EQ(img.at(1, 1), RGBTo565(kRgb565, 28, 12, 251));
}

TEST_F(LoadTest, FitModesSizeAgainstTheTarget) {
    // Target 480 × 800 (big 800, small 480).
    EXPECT_EQ(FitSize(kFitNative, 2000, 3000, 480, 800), (Size{2000, 3000}));
    EXPECT_EQ(FitSize(kFitLongSide, 700, 900, 480, 800), (Size{700, 900}));   // not larger both ways
    EXPECT_EQ(FitSize(kFitLongSide, 1000, 2000, 480, 800), (Size{400, 800}));  // height becomes big
    EXPECT_EQ(FitSize(kFitLongSide, 2000, 1000, 800, 480), (Size{800, 400}));  // width becomes big
    EXPECT_EQ(FitSize(kFitLongSide, 1681, 1000, 800, 480), (Size{800, 476}));  // 4 short: kept
    EXPECT_EQ(FitSize(kFitLongSide, 1670, 1000, 800, 480), (Size{800, 480}));  // 479 snaps
    EXPECT_EQ(FitSize(kFitLongSide, 1664, 1000, 800, 480), (Size{800, 480}));  // 480.8 → 481 → snaps
    EXPECT_EQ(FitSize(kFitThumbnail, 1000, 2000, 480, 800), (Size{800, 1600}));  // higher target: width big
    EXPECT_EQ(FitSize(kFitThumbnail, 2000, 1000, 800, 480), (Size{1600, 800}));  // wider target: height big
    EXPECT_EQ(FitSize(kFitThumbnail, 1000, 2000, 600, 600), (Size{600, 1200}));  // square, picture tall
    EXPECT_EQ(FitSize(kFitThumbnail, 2000, 1000, 600, 600), (Size{1200, 600}));
    EXPECT_EQ(FitSize(kFitShrinkInside, 400, 300, 480, 800), (Size{400, 300}));
    EXPECT_EQ(FitSize(kFitShrinkInside, 500, 300, 480, 800), (Size{480, 288}));
    EXPECT_EQ(FitSize(kFitInside, 100, 100, 480, 800), (Size{480, 480}));
    EXPECT_EQ(FitSize(kFitInside, 100, 200, 480, 800), (Size{400, 800}));
    EXPECT_EQ(FitSize(kFitInside, 3, 5, 480, 800), (Size{480, 800}));  // 480 exactly
    EXPECT_EQ(FitSize(kFitInside, 299, 500, 480, 800), (Size{478, 800}));  // 2 short: kept
}

TEST_F(LoadTest, AZeroTargetIsTheScreenInItsCurrentOrientation) {
    auto path = Write("big.png", 96, 40, [](int) { return 255; });
    Image img;
    ASSERT_TRUE(LoadImageFile(img, screen, path, kFitInside, 0, 0));
    EXPECT_EQ(img.width, 48);
    EXPECT_EQ(img.height, 20);
    SetScreenRotation(screen, kRotate90);  // logical 80 × 48
    ASSERT_TRUE(LoadImageKeep(img, screen, path, kFitInside, 0, 0));
    EXPECT_EQ(img.width, 80);
    EXPECT_EQ(img.height, 33);
    SetScreenRotation(screen, kRotate0);
    ASSERT_TRUE(RefitImage(img, screen, kFitInside, 0, 0));
    EXPECT_EQ(img.width, 48);
    ASSERT_TRUE(LoadImage(img, screen, std::nullopt, 0, 0, 0, false));  // no path: the back buffer
    EXPECT_EQ(img.width, 48);
    EXPECT_EQ(img.height, 80);
}

TEST_F(LoadTest, PicturesClaimingAnEnormousSizeAreRefusedBeforeDecoding) {
    // Headers only: a decoder would first ask for gigabytes.
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                     0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0, 8, 6, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0};
    // A small screen whose one frame claims 65535 x 65535: the decoder sizes frames by their own
    // descriptor.
    std::vector<std::uint8_t> gif_frame = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0,
                                           0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 1, 0, 0, 0x3B};
    std::vector<std::uint8_t> bmp(54, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[18] = bmp[19] = bmp[20] = 0xFF;  // 16 million pixels wide
    bmp[22] = 0x10;
    std::vector<std::uint8_t> tga(64, 0);  // not one of the phone's formats at all
    tga[2] = 2;
    for (auto* bytes : {&png, &gif, &gif_frame, &bmp, &tga}) {
        Image img;
        EXPECT_FALSE(LoadImageMemory(img, screen, *bytes, true, 0, 0, 0));
        EXPECT_TRUE(img.empty());
        EXPECT_EQ(LoadAnimationMemory(img, screen, *bytes), 0);
    }
}

TEST_F(LoadTest, DamagedFilesFailAndLeaveTheImageAlone) {
    auto good = Write("good.png", 8, 8, [](int i) { return i * 4; });
    Image img;
    ASSERT_TRUE(LoadImageFile(img, screen, good, kFitNative, 0, 0));
    Image before = test::CopyOf(img);

    std::ifstream in(dir / "good.png", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto write_raw = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return platform::to_u16((dir / name).string());
    };
    std::string flipped = bytes;
    for (std::size_t i = 40; i < flipped.size(); i += 3) flipped[i] = char(flipped[i] ^ 0x5A);
    // After the header chunk (8 + 25 bytes), a background chunk claiming 4102 bytes where the
    // file ends: the decoder used to read on past the end for ever.
    std::string past_end = bytes.substr(0, 33) + std::string("\0\0\x10\x06" "bKGD" "\0\xff\0\xff\0\xff", 14) +
                           bytes.substr(bytes.size() - 12);
    const std::u16string bad[] = {
        write_raw("half.png", bytes.substr(0, bytes.size() / 2)),
        write_raw("head.png", bytes.substr(0, 20)),
        write_raw("noise.png", std::string(300, '\x7f')),
        write_raw("empty.png", ""),
        write_raw("flipped.png", flipped),
        write_raw("past_end.png", past_end),
        write_raw("fake.jpg", "\xFF\xD8\xFF\xE0 not really a jpeg"),
        platform::to_u16((dir / "missing.png").string()),
    };
    for (const auto& path : bad) {
        EXPECT_FALSE(LoadImageFile(img, screen, path, kFitInside, 0, 0)) << platform::to_utf8(path);
        EXPECT_FALSE(LoadImageKeep(img, screen, path, kFitNative, 0, 0));
        EXPECT_EQ(LoadAnimation(img, screen, path), 0);
        ASSERT_EQ(img.width, 8);
        ASSERT_TRUE(img.has_alpha());
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(img.pixels[i], before.pixels[i]);
            ASSERT_EQ(img.alpha[i], before.alpha[i]);
        }
    }
    Screen no_imaging = test::MakeScreen(4, 4);
    EXPECT_FALSE(LoadImageFile(img, no_imaging, good, 0, 0, 0));
}

// A two-frame 1 × 1 GIF with delays of 10 and 25 hundredths.
std::vector<std::uint8_t> TwoFrameGif() {
    const std::uint8_t bytes[] = {
        'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // screen, 2-colour table
        0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00,                    // white, black
        0x21, 0xF9, 4, 0x04, 10, 0, 0, 0,                      // 10 hundredths
        0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0,  // pixel 0 (white)
        0x21, 0xF9, 4, 0x04, 25, 0, 0, 0,                      // 25 hundredths
        0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0,  // pixel 1 (black)
        0x3B,
    };
    return {std::begin(bytes), std::end(bytes)};
}

TEST_F(LoadTest, AnimatedGifBecomesAStripWithDelaysInHundredths) {
    auto gif = TwoFrameGif();
    std::ofstream(dir / "anim.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif.data()), std::streamsize(gif.size()));
    Image img;
    ASSERT_EQ(LoadAnimation(img, screen, platform::to_u16((dir / "anim.gif").string())), 2);
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.height, 1);
    EXPECT_EQ(img.at(0, 0), 0xFFFF);
    EXPECT_EQ(img.at(1, 0), 0x0000);
    EXPECT_EQ(GetFrameDelay(img, 1), 10);
    EXPECT_EQ(GetFrameDelay(img, 2), 25);
    EXPECT_EQ(GetFrameDelay(img, 0), 0);
    EXPECT_EQ(GetFrameDelay(img, 3), 0);

    auto png = Write("still.png", 3, 2, [](int) { return 255; });
    ASSERT_EQ(LoadAnimation(img, screen, png), 1);
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(GetFrameDelay(img, 1), 0);
}

// Decoder results fed straight in: the milliseconds it reports are converted.
class ScriptedImaging : public platform::Imaging {
public:
    std::unique_ptr<platform::DecodedPicture> open(std::u16string_view) override { return nullptr; }
    std::unique_ptr<platform::DecodedPicture> open_memory(std::span<const std::uint8_t> b) override {
        return real->open_memory(b);
    }
    std::optional<platform::DecodedAnimation> load_animation(std::u16string_view) override {
        return anim;
    }
    std::optional<platform::DecodedAnimation> load_animation_memory(std::span<const std::uint8_t>) override {
        return anim;
    }
    bool save_png(const fs::path&, int, int, std::span<const std::uint8_t>) override { return false; }
    std::optional<platform::DecodedAnimation> anim;
    std::unique_ptr<platform::Imaging> real = platform::make_sdl_imaging();
};

TEST_F(LoadTest, FrameDelaysAreConvertedFromMilliseconds) {
    ScriptedImaging scripted;
    platform::DecodedAnimation a;
    a.width = 2;
    a.height = 1;
    a.is_gif = true;
    a.frames.assign(3, std::vector<std::uint8_t>(8, 255));
    a.delays_ms = {100, 35, 0};
    scripted.anim = a;
    screen.imaging = &scripted;
    Image img;
    ASSERT_EQ(LoadAnimation(img, screen, u"x.gif"), 3);
    EXPECT_EQ(img.width, 6);
    EXPECT_EQ(std::vector<int>(img.frame_delays.begin(), img.frame_delays.end()),
              std::vector<int>({10, 4, 0}));
    a.is_gif = false;  // anything but a GIF has one frame and no delays
    scripted.anim = a;
    ASSERT_EQ(LoadAnimation(img, screen, u"x.png"), 1);
    EXPECT_EQ(img.width, 2);
    EXPECT_TRUE(img.frame_delays.empty());
    a.frames[1].resize(3);  // a short frame is refused, not read past
    a.is_gif = true;
    scripted.anim = a;
    EXPECT_EQ(LoadAnimation(img, screen, u"x.gif"), 0);
}

class OneContact : public ContactPictures {
public:
    std::optional<std::vector<std::uint8_t>> picture(std::u16string_view key, int kind) override {
        asked_kind = kind;
        if (key != u"+15551234") return std::nullopt;
        return bytes;
    }
    std::vector<std::uint8_t> bytes;
    int asked_kind = 0;
};

TEST_F(LoadTest, ContactPicturesAreFittedToTheirBox) {
    Write("face.png", 40, 20, [](int) { return 255; });
    std::ifstream in(dir / "face.png", std::ios::binary);
    OneContact store;
    store.bytes.assign(std::istreambuf_iterator<char>(in), {});
    Image img;
    ASSERT_TRUE(LoadContactPicture(img, screen, store, u"+15551234", 1, ContactFit::Square, 10));
    EXPECT_EQ(store.asked_kind, 1);
    EXPECT_EQ((Size{img.width, img.height}), (Size{10, 5}));
    ASSERT_TRUE(LoadContactPicture(img, screen, store, u"+15551234", 1, ContactFit::HalfScreen, 0));
    EXPECT_EQ((Size{img.width, img.height}), (Size{24, 12}));
    ASSERT_TRUE(LoadContactPicture(img, screen, store, u"+15551234", 1, ContactFit::Screen, 0));
    EXPECT_EQ((Size{img.width, img.height}), (Size{48, 24}));
    EXPECT_FALSE(LoadContactPicture(img, screen, store, u"+1999", 1, ContactFit::Screen, 0));
    store.bytes.assign(10, 0);
    EXPECT_FALSE(LoadContactPicture(img, screen, store, u"+15551234", 1, ContactFit::Screen, 0));
}

}  // namespace
}  // namespace lumo::gfx
