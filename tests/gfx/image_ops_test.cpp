// The image operations, checked pixel by pixel on small known pictures.
#include "test_support.h"

namespace lumo::gfx {
namespace {

Image Numbered(int w, int h, bool alpha) {
    Image img;
    EXPECT_TRUE(ResizeBuffers(img, w, h, alpha));
    for (int i = 0; i < w * h; ++i) {
        img.pixels[i] = std::uint16_t(i + 1);
        if (alpha) img.alpha[i] = std::uint8_t(i % 33);
    }
    return img;
}

TEST(ImageBuffers, OnlyGrow) {
    Image img;
    ASSERT_TRUE(ResizeBuffers(img, 10, 10, true));
    const auto* block = img.pixels.get();
    ASSERT_TRUE(ResizeBuffers(img, 4, 4, true));
    EXPECT_EQ(img.pixels.get(), block);
    EXPECT_EQ(img.pixel_capacity, 200u);
    EXPECT_EQ(img.width, 4);
    ASSERT_TRUE(ResizeBuffers(img, 4, 4, false));
    EXPECT_FALSE(img.has_alpha());
    EXPECT_FALSE(ResizeBuffers(img, 0, 4, false));
    EXPECT_FALSE(ResizeBuffers(img, 1 << 20, 1 << 20, false));
    EXPECT_EQ(img.width, 4);  // unchanged after a refused size
}

TEST(ImageOps, FillAndKeyToAlpha) {
    Screen s = test::MakeScreen(5, 3);
    Image img;
    ASSERT_TRUE(FillImage(img, s, 0, 0, 0xFF, true, 9));
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(img.height, 3);
    EXPECT_EQ(img.pixels[7], 0xFFFF);
    EXPECT_EQ(img.alpha[7], 9);
    ASSERT_TRUE(FillImage(img, s, 2, 2, 0, false, 0));
    EXPECT_FALSE(img.has_alpha());
    EXPECT_EQ(img.pixels[3], 0);
    img.pixels[1] = 5;
    ASSERT_TRUE(KeyToAlpha(img, 14));
    EXPECT_EQ(img.alpha[0], 0);
    EXPECT_EQ(img.alpha[1], 14);
    EXPECT_EQ(img.alpha[2], 0);
}

TEST(ImageOps, BlurAveragesEachFieldAndClearsTheBorderAlpha) {
    Screen s = test::MakeScreen(4, 4);
    Image img;
    ASSERT_TRUE(FillImage(img, s, 5, 5, 0, true, 32));
    img.at(2, 2) = RGBTo565(kRgb565, 255, 255, 255);  // fields 31, 63, 31
    img.alpha_row(2)[2] = 32;
    img.alpha_row(1)[1] = 5;
    Image out;
    ASSERT_TRUE(BlurImage(out, s, img, 2));  // made odd: 3
    // Centre: one white pixel over nine.
    EXPECT_EQ(out.at(2, 2), (31 / 9) << 11 | (63 / 9) << 5 | (31 / 9));
    EXPECT_EQ(out.at(1, 1), out.at(2, 2));
    EXPECT_EQ(out.alpha_row(2)[2], (32 * 8 + 5) / 9);
    EXPECT_EQ(out.alpha_row(3)[3], 32);
    EXPECT_EQ(out.alpha_row(0)[2], 0);
    EXPECT_EQ(out.alpha_row(4)[4], 0);
    // In place gives the same.
    ASSERT_TRUE(BlurImage(img, s, img, 3));
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(img.pixels[i], out.pixels[i]);
        ASSERT_EQ(img.alpha[i], out.alpha[i]);
    }
}

TEST(ImageOps, CropCopiesTheRectangleAndFillsWhatLiesOutside) {
    Image src = Numbered(4, 3, true);
    Image out;
    ASSERT_TRUE(CropImage(out, src, 2, 2, 1, 1, 0));
    EXPECT_EQ(out.at(0, 0), src.at(1, 1));
    EXPECT_EQ(out.at(1, 1), src.at(2, 2));
    EXPECT_EQ(out.alpha_row(1)[1], src.alpha_row(2)[2]);
    ASSERT_TRUE(CropImage(out, src, 3, 3, 2, -1, 0xFF));
    EXPECT_EQ(out.at(0, 0), 0xFFFF);
    EXPECT_EQ(out.alpha_row(0)[0], 0);
    EXPECT_EQ(out.at(0, 1), src.at(2, 0));
    EXPECT_EQ(out.at(2, 1), 0xFFFF);
    ASSERT_TRUE(CropImage(out, src, 0, 0, 0, 0, 0));
    EXPECT_EQ(out.width, 4);
    EXPECT_EQ(out.at(3, 2), src.at(3, 2));
    ASSERT_TRUE(CropImage(src, src, 2, 1, 2, 2, 0));  // in place
    EXPECT_EQ(src.width, 2);
    EXPECT_EQ(src.at(0, 0), 11);
}

TEST(ImageOps, ResizeNearestAndBilinear) {
    Screen s = test::MakeScreen(4, 4);
    Image src = Numbered(4, 2, true);
    Image out;
    ASSERT_TRUE(ResizeImage(out, s, src, 8, 4, false, false));
    ASSERT_TRUE(out.has_alpha());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(out.at(x, y), src.at(x / 2, y / 2));
            ASSERT_EQ(out.alpha_row(y)[x], src.alpha_row(y / 2)[x / 2]);
        }
    ASSERT_TRUE(ResizeImage(out, s, src, 2, 10, false, true));  // fitted inside 2 × 10
    EXPECT_EQ(out.width, 2);
    EXPECT_EQ(out.height, 1);

    Image grad;
    ASSERT_TRUE(ResizeBuffers(grad, 2, 1, false));
    grad.at(0, 0) = 0;
    grad.at(1, 0) = RGBTo565(kRgb565, 255, 255, 255);
    ASSERT_TRUE(ResizeImage(out, s, grad, 4, 1, true, false));
    EXPECT_FALSE(out.has_alpha());
    // Step 0.5: x = 1 sits half way between the two source pixels.
    EXPECT_EQ(out.at(0, 0), 0);
    EXPECT_EQ(out.at(1, 0), (15 << 11) | (31 << 5) | 15);
    EXPECT_EQ(out.at(2, 0), 0xFFFF);
}

TEST(ImageOps, RotateMirrorAndReflection) {
    Image src = Numbered(3, 2, true);  // 1 2 3 / 4 5 6
    Image out;
    ASSERT_TRUE(RotateImage(out, src, 1));
    ASSERT_EQ(out.width, 2);
    EXPECT_EQ(std::vector<int>({out.at(0, 0), out.at(1, 0), out.at(0, 2), out.at(1, 2)}),
              std::vector<int>({4, 1, 6, 3}));
    EXPECT_EQ(out.alpha_row(0)[0], src.alpha_row(1)[0]);
    ASSERT_TRUE(RotateImage(out, src, 2));
    EXPECT_EQ(out.at(0, 0), 6);
    EXPECT_EQ(out.at(2, 1), 1);
    ASSERT_TRUE(RotateImage(out, src, 4));
    EXPECT_EQ(std::vector<int>({out.at(0, 0), out.at(1, 0), out.at(0, 2), out.at(1, 2)}),
              std::vector<int>({3, 6, 1, 4}));
    EXPECT_FALSE(RotateImage(out, src, 3));
    Image back = test::CopyOf(src);
    ASSERT_TRUE(RotateImage(back, back, 1));
    ASSERT_TRUE(RotateImage(back, back, 4));
    EXPECT_EQ(back.at(2, 1), 6);

    ASSERT_TRUE(MirrorImage(out, src));
    EXPECT_EQ(out.at(0, 0), 3);
    EXPECT_EQ(out.at(2, 1), 4);
    EXPECT_EQ(out.alpha_row(0)[0], src.alpha_row(0)[2]);

    Image tall = Numbered(2, 5, false);
    ASSERT_TRUE(MakeReflection(out, tall, 0));
    ASSERT_EQ(out.height, 2);
    EXPECT_EQ(out.at(0, 0), tall.at(0, 4));
    EXPECT_EQ(out.at(1, 1), tall.at(1, 3));
    EXPECT_EQ(out.alpha[0], kReflectionAlpha);
    EXPECT_EQ(out.alpha[3], kReflectionAlpha);
    ASSERT_TRUE(MakeReflection(out, tall, 9));
    EXPECT_EQ(out.height, 5);
}

TEST(ImageOps, ShineMaskRisesHoldsAndFalls) {
    Image img = Numbered(20, 2, false);
    ASSERT_TRUE(MakeShineMask(img, 2, 12));  // thirds of 4 columns, step 8
    std::vector<int> row(img.alpha_row(1), img.alpha_row(1) + 20);
    EXPECT_EQ(row, std::vector<int>({0, 0, 8, 16, 24, 32, 32, 32, 32, 32, 24, 16, 8, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(MakeShineMask(img, -3, 12));  // columns off the picture are skipped
    EXPECT_EQ(img.alpha_row(0)[0], 32);
    EXPECT_EQ(img.alpha_row(0)[6], 16);
}

TEST(ImageOps, BackBufferAndCaptureComeBackInLogicalOrientation) {
    Screen s = test::MakeScreen(6, 4);
    test::RecordingPresenter presenter;
    s.presenter = &presenter;
    SetScreenRotation(s, kRotate90);
    Image pic = test::RandomImage(4, 6, false, 3);
    ASSERT_TRUE(DimToScreen(pic, s, 32));
    Image back, shown;
    ASSERT_TRUE(ImageFromBackBuffer(back, s));
    EXPECT_FALSE(CaptureScreen(shown, s));  // nothing shown yet
    ASSERT_TRUE(PresentScreen(s));
    ASSERT_TRUE(CaptureScreen(shown, s));
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(back.pixels[i], pic.pixels[i]);
        ASSERT_EQ(shown.pixels[i], pic.pixels[i]);
    }
}

TEST(ImageOps, ReleaseKeepsBlocksUnlessAsked) {
    Image img = Numbered(3, 3, true);
    img.frame_delays = {5, 6};
    img.kept = std::make_unique<KeptPicture>();
    ReleaseImage(img, false);
    EXPECT_EQ(img.width, 0);
    EXPECT_TRUE(img.pixels);
    EXPECT_FALSE(img.kept);
    EXPECT_TRUE(img.frame_delays.empty());
    Screen s = test::MakeScreen(2, 2);
    EXPECT_FALSE(DrawImage(img, s, 0, 0, 0, 0, 0, kCopy, 32));
    ReleaseImage(img, true);
    EXPECT_FALSE(img.pixels);
    EXPECT_FALSE(img.has_alpha());
}

}  // namespace
}  // namespace lumo::gfx
