#pragma once
// Shared helpers for the drawing tests: screens with recording back-ends, seeded random pictures,
// and pictures written to a temporary folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/image.h"
#include "lumo/gfx/screen.h"

namespace lumo::gfx::test {

// Keeps every presented frame.
class RecordingPresenter : public Presenter {
public:
    bool present(std::span<const std::uint16_t> frame) override {
        frames.emplace_back(frame.begin(), frame.end());
        return accept;
    }
    bool capture(std::span<std::uint16_t> frame) override {
        if (frames.empty()) return false;
        std::copy(frames.back().begin(), frames.back().end(), frame.begin());
        return true;
    }
    std::vector<std::vector<std::uint16_t>> frames;
    bool accept = true;
};

// Time passes only when someone waits.
class ManualClock : public FrameClock {
public:
    std::uint32_t now_ms() override { return now; }
    void sleep_ms(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
    std::uint32_t now = 1000;
    std::vector<std::uint32_t> sleeps;
};

Screen MakeScreen(int w, int h, const PixelFormat& f = kRgb565, int dpi = 96);
// Fills the back buffer with seeded random pixels (mask 0x7FFF for RGB555).
void Scramble(Screen& s, std::uint32_t seed, std::uint16_t mask = 0xFFFF);
// w × h random pixels; with_alpha adds random alphas 0..32.
Image RandomImage(int w, int h, bool with_alpha, std::uint32_t seed, std::uint16_t mask = 0xFFFF);
Image CopyOf(const Image& img);
// The logical pixel (x, y) of the back buffer.
std::uint16_t At(const Screen& s, int x, int y);
// A fresh empty folder under the test temp dir.
std::filesystem::path TempFolder(const std::string& name);
// Saves an Image (alpha plane as 0..255) as PNG through the platform, for looking at.
bool SavePng(const Image& img, const PixelFormat& f, const std::filesystem::path& path);

}  // namespace lumo::gfx::test
