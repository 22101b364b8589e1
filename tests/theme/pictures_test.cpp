// The staged theme pictures of both profiles against the picture table: presence, decoding, size,
// cell layout, transparency and content.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <set>

#include "theme_table.h"
#include "theme_test_util.h"

namespace lumo::theme {
namespace {

using test::load_rgba;
using test::Rgba;

class ThemePictures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        table_ = new Table(read_table(LUMO_THEME_TABLE));
        IMG_Init(IMG_INIT_PNG | IMG_INIT_JPG);
    }
    static void TearDownTestSuite() {
        delete table_;
        table_ = nullptr;
    }
    // Calls fn for every staged picture of every profile that decodes.
    template <typename Fn>
    void each(Fn fn) {
        ASSERT_TRUE(table_->error.empty()) << table_->error;
        for (const Profile& profile : kProfiles)
            for (const Picture& p : table_->pictures) {
                auto rel = stage_path(p, profile);
                if (!rel) continue;
                auto img = load_rgba(test::stage(*rel));
                if (!img) continue;  // reported by the decoding test
                fn(p, profile, *rel, *img);
            }
    }
    static Table* table_;
};

Table* ThemePictures::table_ = nullptr;

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(ThemePictures, StartUpListHas44DistinctNames) {
    ASSERT_TRUE(table_->error.empty()) << table_->error;
    std::set<std::string> names;
    for (const Picture& p : table_->pictures)
        if (p.group == "required") {
            EXPECT_EQ(p.path.find('/'), std::string::npos) << p.path << " must lie directly in gfx";
            EXPECT_TRUE(names.insert(lower(p.path)).second) << p.path << " listed twice";
        }
    EXPECT_EQ(names.size(), 44u);
}

TEST_F(ThemePictures, EveryPictureExistsAndDecodesAtItsSize) {
    ASSERT_TRUE(table_->error.empty()) << table_->error;
    size_t checked = 0;
    for (const Profile& profile : kProfiles)
        for (const Picture& p : table_->pictures) {
            auto rel = stage_path(p, profile);
            if (!rel) continue;
            auto img = load_rgba(test::stage(*rel));
            ASSERT_TRUE(img) << *rel << ": " << IMG_GetError();
            EXPECT_EQ(img->w, pixel_width(p, profile)) << *rel;
            EXPECT_EQ(img->h, pixel_height(p, profile)) << *rel;
            ++checked;
        }
    EXPECT_GT(checked, table_->pictures.size());
}

TEST_F(ThemePictures, FileContentMatchesItsExtension) {
    each([](const Picture&, const Profile&, const std::string& rel, const Rgba&) {
        std::string head = test::file_bytes(test::stage(rel)).substr(0, 8);
        std::string ext = lower(rel.substr(rel.rfind('.')));
        std::string want = ext == ".png" ? "\x89PNG\r\n\x1a\n" : ext == ".jpg" ? "\xFF\xD8\xFF" : ext == ".gif" ? "GIF89a" : ext == ".bmp" ? "BM" : "?";
        EXPECT_EQ(head.substr(0, want.size()), want) << rel;
    });
}

TEST_F(ThemePictures, StripsDivideIntoEqualCells) {
    each([](const Picture& p, const Profile&, const std::string& rel, const Rgba& img) {
        EXPECT_EQ(img.w % p.cells, 0) << rel << " is not " << p.cells << " equal cells wide";
        EXPECT_EQ(img.h % p.rows, 0) << rel << " is not " << p.rows << " equal cells high";
    });
}

TEST_F(ThemePictures, TransparencyFollowsHowThePictureIsDrawn) {
    each([](const Picture& p, const Profile&, const std::string& rel, const Rgba& img) {
        if (p.mode == Mode::Opaque) {
            EXPECT_FALSE(img.file_has_alpha) << rel << " should be opaque";
            return;
        }
        EXPECT_TRUE(img.file_has_alpha) << rel << " should carry alpha";
        // Colour-keyed drawing takes the first pixel as the background.
        if (p.mode == Mode::Key) {
            EXPECT_EQ(img.alpha(0, 0), 0) << rel << ": top-left pixel is not background";
        }
    });
}

TEST_F(ThemePictures, EveryCellShowsSomethingExceptBlanks) {
    each([](const Picture& p, const Profile&, const std::string& rel, const Rgba& img) {
        if (p.mode == Mode::Opaque) return;
        const int cw = img.w / p.cells, ch = img.h / p.rows;
        for (int cy = 0; cy < p.rows; ++cy)
            for (int cx = 0; cx < p.cells; ++cx) {
                int visible = 0;
                for (int y = cy * ch; y < (cy + 1) * ch; ++y)
                    for (int x = cx * cw; x < (cx + 1) * cw; ++x) visible += img.alpha(x, y) > 16;
                if (is_blank(p)) {
                    EXPECT_EQ(visible, 0) << rel << " should be blank";
                } else {
                    EXPECT_GT(visible, cw * ch / 400) << rel << " cell " << cx << "," << cy << " is empty";
                }
            }
    });
}

TEST_F(ThemePictures, NeighbouringCellsOfAStripDiffer) {
    each([](const Picture& p, const Profile&, const std::string& rel, const Rgba& img) {
        if (p.cells < 2) return;
        const int cw = img.w / p.cells;
        for (int c = 1; c < p.cells; ++c) {
            bool same = true;
            for (int y = 0; y < img.h && same; ++y)
                for (int x = 0; x < cw && same; ++x)
                    same = std::equal(img.at((c - 1) * cw + x, y), img.at((c - 1) * cw + x, y) + 4, img.at(c * cw + x, y));
            EXPECT_FALSE(same) << rel << ": cells " << c - 1 << " and " << c << " are identical";
        }
    });
}

// The lock screen turns each of the 15 hand pictures by quarter turns, so picture n must point at
// n x 6 degrees clockwise from twelve o'clock.
TEST_F(ThemePictures, AnalogueHandsPointAtTheirAngle) {
    int hands = 0;
    each([&](const Picture& p, const Profile&, const std::string& rel, const Rgba& img) {
        if (p.art != "hand") return;
        ++hands;
        double sx = 0, sy = 0, n = 0;
        for (int y = 0; y < img.h; ++y)
            for (int x = 0; x < img.w; ++x) {
                double a = img.alpha(x, y);
                sx += a * (x + 0.5 - img.w / 2.0);
                sy += a * (y + 0.5 - img.h / 2.0);
                n += a;
            }
        ASSERT_GT(n, 0) << rel;
        double angle = std::atan2(sx / n, -sy / n) * 180 / M_PI;
        if (angle < -1) angle += 360;
        EXPECT_NEAR(angle, std::stoi(p.item) * 6.0, 3.0) << rel;
    });
    EXPECT_EQ(hands, 2 * 45);
}

}  // namespace
}  // namespace lumo::theme
