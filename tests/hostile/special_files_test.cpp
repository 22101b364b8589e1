// A named pipe where a picture, lang.ini or a sound is expected: it is refused at once instead of
// blocking the reader until somebody writes to it. Each load runs with a generous time limit and a
// watchdog that frees it, so a hang fails the test rather than stalling the suite.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "hostile_phone.h"
#include "lumo/gfx/load.h"
#include "lumo/lang/lang.h"
#include "lumo/platform/files.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::hostile {
namespace {

using namespace std::chrono_literals;

class SpecialFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("lumo-special-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0644), 0);
        ASSERT_EQ(::mkfifo((dir / "lang.ini").c_str(), 0644), 0);
        ASSERT_EQ(::mkfifo((dir / "unlock.wav").c_str(), 0644), 0);
        fs::create_directory(dir / "folder.png");
    }
    void TearDown() override { fs::remove_all(dir); }
    bool prompt(const std::function<void()>& work) {
        return finishes_within(10s, work, [&] { release_fifos(dir); });
    }
    fs::path dir;
};

TEST_F(SpecialFiles, PicturesThatAreNotPlainFilesAreRefusedAtOnce) {
    auto imaging = platform::make_sdl_imaging();
    for (const char* name : {"pipe.png", "folder.png"}) {
        auto path = platform::to_u16((dir / name).string());
        bool opened = true, animated = true;
        std::string why;
        ASSERT_TRUE(prompt([&] {
            opened = imaging->open(path) != nullptr;
            animated = imaging->load_animation(path).has_value();
            why = imaging->last_error();
        })) << name << " blocked the reader";
        EXPECT_FALSE(opened) << name;
        EXPECT_FALSE(animated) << name;
        EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
    }
    // Through the drawing library's loaders as the programs call them.
    auto screen = gfx::Screen{};
    gfx::InitScreen(screen, 48, 80, 2, 96, gfx::kRgb565, 96);
    screen.imaging = imaging.get();
    gfx::Image img;
    auto pipe = platform::to_u16((dir / "pipe.png").string());
    ASSERT_TRUE(prompt([&] {
        EXPECT_FALSE(gfx::LoadImageFile(img, screen, pipe, gfx::kFitNative, 0, 0));
        EXPECT_FALSE(gfx::LoadImageKeep(img, screen, pipe, gfx::kFitNative, 0, 0));
        EXPECT_EQ(gfx::LoadAnimation(img, screen, pipe), 0);
    }));
}

TEST_F(SpecialFiles, ALangIniPipeGivesTheBuiltInTexts) {
    lang::LangFile file;
    std::string why;
    ASSERT_TRUE(prompt([&] { file = lang::LangFile::open(dir, &why); })) << "lang.ini blocked the reader";
    EXPECT_FALSE(file.present());
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
    EXPECT_EQ(file.lookup(u"s_OK=", u"OK", 20), u"OK");
}

TEST_F(SpecialFiles, OnlyPlainFilesOfTheirKindsSizeAreRead) {
    std::optional<std::vector<std::uint8_t>> got;
    std::string why;
    ASSERT_TRUE(prompt([&] { got = platform::read_file(dir / "unlock.wav", platform::kMaxWaveBytes, &why); }));
    EXPECT_FALSE(got);
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
    EXPECT_FALSE(platform::read_file(dir / "folder.png", platform::kMaxPictureBytes));
    EXPECT_FALSE(platform::read_file(dir / "missing.png", platform::kMaxPictureBytes));
    // A lang.ini beyond its kind's size is refused whole rather than read in part.
    {
        std::ofstream big(dir / "big.ini", std::ios::binary);
        big << std::string(platform::kMaxLangBytes + 2, 'x');
    }
    EXPECT_FALSE(platform::read_file(dir / "big.ini", platform::kMaxLangBytes, &why));
    EXPECT_NE(why.find("larger than"), std::string::npos) << why;
    auto exact = platform::read_file(dir / "big.ini", platform::kMaxLangBytes + 2);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->size(), platform::kMaxLangBytes + 2);
    std::ofstream(dir / "empty.png", std::ios::binary).flush();
    auto empty = platform::read_file(dir / "empty.png", 10);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace lumo::hostile
