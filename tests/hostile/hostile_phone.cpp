#include "hostile_phone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "lumo/protocol/protocol.h"

namespace lumo::hostile {

using namespace platform;
using lockscreen::EntryResult;
using lockscreen::testing_support::stage_dir;

const char* name_of(Bad b) {
    switch (b) {
    case Bad::Garbage: return "Garbage";
    case Bad::CutPng: return "CutPng";
    case Bad::Empty: return "Empty";
    case Bad::Fifo: return "Fifo";
    case Bad::Folder: return "Folder";
    case Bad::GifInside: return "GifInside";
    case Bad::HugeGif: return "HugeGif";
    }
    return "?";
}

std::vector<std::uint8_t> seed(const std::string& name) {
    std::ifstream in(fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus" / "image_load" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

namespace {
void write(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
}  // namespace

void plant(const fs::path& where, Bad kind) {
    std::error_code ec;
    std::vector<std::uint8_t> real;
    {
        std::ifstream in(where, std::ios::binary);
        real.assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove_all(where, ec);
    switch (kind) {
    case Bad::Garbage: {
        std::mt19937 rng(7);
        std::vector<std::uint8_t> b(3000);
        for (auto& x : b) x = std::uint8_t(rng());
        write(where, b);
        break;
    }
    case Bad::CutPng:
        real.resize(std::min<std::size_t>(real.size(), std::max<std::size_t>(real.size() / 2, 40)));
        write(where, real);
        break;
    case Bad::Empty: write(where, {}); break;
    case Bad::Fifo: ::mkfifo(where.c_str(), 0644); break;
    case Bad::Folder: fs::create_directory(where); break;
    case Bad::GifInside: write(where, seed("sdl_oom.gif")); break;
    case Bad::HugeGif: write(where, seed("huge_frame.gif")); break;
    }
}

bool finishes_within(std::chrono::seconds limit, const std::function<void()>& work,
                     const std::function<void()>& unblock) {
    // The work stays on the calling thread (the lock screen and SDL keep per-thread state); a
    // watchdog frees it when it overruns.
    std::mutex m;
    std::condition_variable cv;
    bool done = false, late = false;
    std::thread watchdog([&] {
        std::unique_lock lock(m);
        if (cv.wait_for(lock, limit, [&] { return done; })) return;
        late = true;
        while (!done) {
            lock.unlock();
            unblock();
            lock.lock();
            cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; });
        }
    });
    work();
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_all();
    watchdog.join();
    return !late;
}

void release_fifos(const fs::path& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_fifo(ec)) continue;
        int fd = ::open(it->path().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    }
}

std::vector<std::string> staged_pictures() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(stage_dir() / "Program Files" / "Lumo" / "gfx"))
        if (e.is_regular_file()) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

Phone::Phone() {
    fs::remove(gfx());
    fs::create_directory(gfx());
    for (const auto& e : fs::directory_iterator(stage_dir() / "Program Files" / "Lumo" / "gfx")) {
        if (e.is_directory())
            fs::create_directory_symlink(e.path(), gfx() / e.path().filename());
        else
            fs::create_symlink(e.path(), gfx() / e.path().filename());
    }
}

std::string Phone::boot_and_lock() {
    if (start(u"-hide") != EntryResult::Running) return "start-up ended";
    lock_now();
    if (!ctx->locked) return "did not lock";
    if (count_seen(protocol::WM_Locked) != 1) return "the service heard no WM_Locked";
    anim_ticks(2);
    return {};
}

std::string Phone::boot_lock_unlock() {
    if (auto failure = boot_and_lock(); !failure.empty()) return failure;
    const auto& s = ctx->slider;
    const int step = ctx->screen.logical_width / 12;
    int y = s.knob_top + std::max(ctx->knob.height, 2) / 2;
    int x = s.knob_pos + std::max(s.knob_width, 2) / 2;
    send(WM_LBUTTONDOWN, 1, point(x, y));
    for (int i = 1; i <= 10; ++i) {
        fake.advance(20);
        send(WM_MOUSEMOVE, 1, point(x + i * step, y));
    }
    fake.advance(20);
    send(WM_LBUTTONUP, 0, point(x + 10 * step, y));
    anim_ticks(2);
    if (ctx->locked) return "still locked after the drag";
    if (count_seen(protocol::WM_Unlock) != 1) return "the service heard no WM_Unlock";
    return {};
}

}  // namespace lumo::hostile
