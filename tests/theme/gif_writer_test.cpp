// The GIF encoder against SDL_image's decoder: every frame comes back pixel for pixel.
#include <gtest/gtest.h>

#include <random>

#include "gif_writer.h"
#include "theme_test_util.h"

namespace lumo::theme {
namespace {

void expect_round_trip(const GifAnimation& gif) {
    std::vector<uint8_t> bytes = encode_gif(gif);
    ASSERT_FALSE(bytes.empty());
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    IMG_Animation* anim = IMG_LoadAnimation_RW(rw, 1);
    ASSERT_NE(anim, nullptr) << IMG_GetError();
    ASSERT_EQ(anim->count, int(gif.frames.size()));
    EXPECT_EQ(anim->w, gif.width);
    EXPECT_EQ(anim->h, gif.height);
    for (int f = 0; f < anim->count; ++f) {
        EXPECT_EQ(anim->delays[f], gif.delay_cs * 10);
        SDL_Surface* s = SDL_ConvertSurfaceFormat(anim->frames[f], SDL_PIXELFORMAT_RGBA32, 0);
        ASSERT_NE(s, nullptr);
        int wrong = 0;
        for (int y = 0; y < gif.height; ++y)
            for (int x = 0; x < gif.width; ++x) {
                const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * 4;
                uint32_t want = gif.palette[gif.frames[f][size_t(y) * gif.width + x]];
                wrong += p[0] != uint8_t(want >> 16) || p[1] != uint8_t(want >> 8) || p[2] != uint8_t(want);
            }
        EXPECT_EQ(wrong, 0) << "frame " << f;
        SDL_FreeSurface(s);
    }
    IMG_FreeAnimation(anim);
}

TEST(GifWriter, SmallPaletteFramesRoundTrip) {
    GifAnimation gif{37, 23, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {}, 7};
    for (int f = 0; f < 3; ++f) {
        std::vector<uint8_t> px(37 * 23);
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i / (f + 1) + f) % 5);
        gif.frames.push_back(px);
    }
    expect_round_trip(gif);
}

// Noise over 256 colours fills the 4096-code table many times, so code widening and the table
// reset are both exercised.
TEST(GifWriter, NoisyFullPaletteFramesRoundTrip) {
    GifAnimation gif{211, 157, {}, {}, 3};
    for (uint32_t i = 0; i < 256; ++i) gif.palette.push_back(i * 0x010203 & 0xFFFFFF);
    std::mt19937 rng(7);
    for (int f = 0; f < 2; ++f) {
        std::vector<uint8_t> px(211 * 157);
        for (auto& p : px) p = uint8_t(rng() % (f == 0 ? 256 : 3));
        gif.frames.push_back(px);
    }
    expect_round_trip(gif);
}

TEST(GifWriter, SinglePixelAndSingleFrame) {
    expect_round_trip(GifAnimation{1, 1, {0x123456, 0xABCDEF}, {{1}}, 10});
}

TEST(GifWriter, MalformedAnimationsGiveNothing) {
    EXPECT_TRUE(encode_gif(GifAnimation{2, 2, {0, 1}, {{0, 1, 2, 0}}, 10}).empty());  // index past palette
    EXPECT_TRUE(encode_gif(GifAnimation{2, 2, {0, 1}, {{0, 1, 1}}, 10}).empty());     // short frame
    EXPECT_TRUE(encode_gif(GifAnimation{2, 2, {0}, {{0, 0, 0, 0}}, 10}).empty());     // one colour
    EXPECT_TRUE(encode_gif(GifAnimation{0, 2, {0, 1}, {{}}, 10}).empty());             // no width
    EXPECT_TRUE(encode_gif(GifAnimation{2, 2, {0, 1}, {}, 10}).empty());               // no frames
}

}  // namespace
}  // namespace lumo::theme
