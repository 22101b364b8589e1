// What a new phone finds besides the theme: sample wallpapers in My Pictures and the two sounds
// beside the programs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "theme_test_util.h"

namespace lumo::theme {
namespace {

namespace fs = std::filesystem;

TEST(StageSamples, MyPicturesHoldsAJpegAPngAndAnAnimatedGifAtScreenSize) {
    std::set<std::string> kinds;
    for (const auto& e : fs::directory_iterator(test::stage("My Documents/My Pictures"))) {
        if (e.is_directory()) continue;
        std::string ext = e.path().extension().string();
        if (ext == ".gif") {
            IMG_Animation* anim = IMG_LoadAnimation(e.path().c_str());
            ASSERT_NE(anim, nullptr) << e.path() << ": " << IMG_GetError();
            EXPECT_GT(anim->count, 1) << e.path();
            EXPECT_EQ(anim->w, 480);
            EXPECT_EQ(anim->h, 800);
            IMG_FreeAnimation(anim);
        } else {
            auto img = test::load_rgba(e.path().string());
            ASSERT_TRUE(img) << e.path();
            EXPECT_EQ(img->w, 480) << e.path();
            EXPECT_EQ(img->h, 800) << e.path();
        }
        kinds.insert(ext);
    }
    EXPECT_TRUE(kinds.count(".jpg"));
    EXPECT_TRUE(kinds.count(".png"));
    EXPECT_TRUE(kinds.count(".gif"));
}

TEST(StageSamples, AnAlbumHoldsPicturesOfOtherSizesAndKinds) {
    std::set<std::string> kinds;
    std::set<int> widths;
    for (const auto& e : fs::directory_iterator(test::stage("My Documents/My Pictures/Album"))) {
        auto img = test::load_rgba(e.path().string());
        ASSERT_TRUE(img) << e.path();
        kinds.insert(e.path().extension().string());
        widths.insert(img->w);
    }
    EXPECT_EQ(kinds, (std::set<std::string>{".bmp", ".jpg", ".png"}));
    EXPECT_TRUE(widths.count(320));   // smaller than the screen
    EXPECT_TRUE(widths.count(2000));  // larger than the screen
}

TEST(StageSamples, LockAndUnlockSoundsAreAudibleShortWaves) {
    std::vector<std::vector<int16_t>> sounds;
    for (const char* name : {"lock.wav", "unlock.wav"}) {
        SDL_AudioSpec spec;
        Uint8* buf = nullptr;
        Uint32 len = 0;
        std::string path = test::stage(std::string("Program Files/Lumo/") + name);
        ASSERT_NE(SDL_LoadWAV(path.c_str(), &spec, &buf, &len), nullptr) << path << ": " << SDL_GetError();
        EXPECT_EQ(spec.format, AUDIO_S16LSB);
        double seconds = double(len) / (spec.freq * spec.channels * 2);
        EXPECT_GT(seconds, 0.1) << name;
        EXPECT_LT(seconds, 2.0) << name;
        std::vector<int16_t> samples(len / 2);
        std::memcpy(samples.data(), buf, samples.size() * 2);
        SDL_FreeWAV(buf);
        int16_t peak = 0;
        for (int16_t s : samples) peak = std::max<int16_t>(peak, int16_t(std::abs(s)));
        EXPECT_GT(peak, 8000) << name << " is nearly silent";
        EXPECT_EQ(samples.back(), 0) << name << " would click at its end";
        sounds.push_back(samples);
    }
    EXPECT_NE(sounds[0], sounds[1]);
}

}  // namespace
}  // namespace lumo::theme
