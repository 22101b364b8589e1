#pragma once
// The music player Zorp, simulated in the host as an outside program: one window of class and
// title "Zorp", a playlist of the device's .wav files played one after another through the
// sound service, its state published under HKCU Software\Vesk\Zorp, the WM_COMMAND commands
// 301-305, 108 and 109 answered (and recorded), and WM_CLOSE ending it with its title cleared.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host.h"
#include "lumo/platform/windows.h"

namespace lumo::host {

class ProcessService;
class SoundService;
class WindowService;

class ZorpPlayer {
  public:
    ZorpPlayer(Host& host, WindowService& windows, ProcessService& processes, SoundService& sound);
    ~ZorpPlayer();

    struct Track {
        std::u16string path;  // device path of the .wav
        std::u16string title, artist, album, picture;
    };
    // What a track shows: the wave's INFO tags (INAM, IART, IPRD) where it has them, else the
    // file's name and its folder's; the picture beside it with the same name (.png or .jpg),
    // or the folder's Folder.jpg / Folder.png.
    Track describe(std::u16string_view device_path) const;

    // The person's buttons. Play starts the player when it is not running (with `files`, or
    // the tracks of \My Documents\My Music); false with the reason when nothing can play.
    bool play(const std::vector<std::u16string>& files, std::string* why);
    bool pause(std::string* why);
    bool next(std::string* why);
    bool stop(std::string* why);

    bool running() const { return window_ != 0; }

  private:
    void started(std::uint32_t pid, std::u16string_view arguments, bool shown);
    platform::LResult proc(platform::Hwnd self, std::uint32_t msg, platform::WParam w, platform::LParam l);
    void command(std::uint32_t code, platform::LParam l);
    void set_playlist(const std::vector<std::u16string>& files);
    void start_track();
    void publish();
    void close();
    void register_handlers();
    bool check_running();

    Host& host_;
    WindowService& windows_;
    ProcessService& processes_;
    SoundService& sound_;
    std::filesystem::path fs_root_;
    std::uint32_t pid_ = 0;
    platform::Hwnd window_ = 0;
    std::vector<Track> playlist_;
    std::size_t index_ = 0;
    std::uint32_t status_ = 1;  // 0 playing, 1 paused
    std::uint32_t volume_ = 60;
    std::uint32_t muted_volume_ = 0;
    Host::TimerId track_end_ = 0;
    std::vector<std::u16string> commands_;  // every command received, as "301" or "304 66"
};

}  // namespace lumo::host
