#pragma once
// A fresh fake phone per hostile case, the bad files the cases plant, and a bounded wait that
// turns a hang into a failure.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lock_fixture.h"

namespace lumo::hostile {

namespace fs = std::filesystem;

enum class Bad {
    Garbage,     // random bytes
    CutPng,      // the first part of a real PNG
    Empty,       // zero bytes
    Fifo,        // a named pipe nobody writes to
    Folder,      // a directory
    GifInside,   // a GIF that made the old decoder take gigabytes, under the file's own name
    HugeGif,     // a GIF whose frame claims 65535 x 65535
};
const char* name_of(Bad b);
inline constexpr Bad kAllBad[] = {Bad::Garbage, Bad::CutPng, Bad::Empty,    Bad::Fifo,
                                  Bad::Folder,  Bad::GifInside, Bad::HugeGif};

// A seed picture of the image fuzzer.
std::vector<std::uint8_t> seed(const std::string& name);

// Replaces `where` (file, link or nothing) by a bad file of the given kind.
void plant(const fs::path& where, Bad kind);

// Runs `work` and gives it up to `limit`. When it overruns, `unblock` is called until it ends
// (it must free the work, e.g. by opening the pipe it waits on) and false is returned.
bool finishes_within(std::chrono::seconds limit, const std::function<void()>& work,
                     const std::function<void()>& unblock);

// Opens every FIFO below `root` for writing and closes it at once, so a reader stuck on one ends.
void release_fifos(const fs::path& root);

// A phone over the fake platform whose gfx folder holds a link per staged picture, so one of them
// can be replaced.
class Phone : public lockscreen::testing_support::LockFixture {
public:
    Phone();
    void TestBody() override {}
    fs::path gfx() const { return root / "Program Files" / "Lumo" / "gfx"; }
    fs::path folder() const { return root / "Program Files" / "Lumo"; }
    // Starts hidden, locks the way the service does, drags the knob to the end. Empty when
    // all three happened, else what went wrong.
    std::string boot_lock_unlock();
    // Only the first two steps.
    std::string boot_and_lock();
    using LockFixture::set_byte;
    using LockFixture::set_text;
    using LockFixture::fake;
};

// Files in the staged gfx folder (pictures only, not the clock folders), sorted.
std::vector<std::string> staged_pictures();

}  // namespace lumo::hostile
