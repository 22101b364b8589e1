#include "zorp_player.h"

#include <algorithm>
#include <cstring>

#include "lumo/platform/files.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sound.h"
#include "lumo/platform/text.h"
#include "lumo/wire/protocol.h"
#include "process_service.h"
#include "simulated_programs.h"
#include "sound_service.h"
#include "window_service.h"

namespace lumo::host {

namespace fs = std::filesystem;
using namespace platform;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr std::u16string_view kKey = u"Software\\Vesk\\Zorp";
constexpr std::u16string_view kMusicFolder = u"\\My Documents\\My Music";
constexpr std::u16string_view kPlayerPath = u"\\Windows\\zorp.exe";
constexpr std::uint32_t kWmCommand = 0x111;
constexpr std::size_t kMaxTracks = 200;

std::uint32_t le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

// The INFO tags of a RIFF wave: INAM title, IART artist, IPRD album. Chunks that claim more than
// the file holds end the walk.
void wave_tags(std::span<const std::uint8_t> b, ZorpPlayer::Track& t) {
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) return;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        std::uint32_t size = le32(b.data() + at + 4);
        if (size > b.size() - at - 8) return;
        if (std::memcmp(b.data() + at, "LIST", 4) == 0 && size >= 4 && std::memcmp(b.data() + at + 8, "INFO", 4) == 0) {
            std::size_t sub = at + 12, end = at + 8 + size;
            while (sub + 8 <= end) {
                std::uint32_t n = le32(b.data() + sub + 4);
                if (n > end - sub - 8) break;
                std::string text(reinterpret_cast<const char*>(b.data() + sub + 8), n);
                text = text.substr(0, text.find('\0')).substr(0, 260);
                auto id = std::string(reinterpret_cast<const char*>(b.data() + sub), 4);
                if (id == "INAM") t.title = to_u16(text);
                else if (id == "IART") t.artist = to_u16(text);
                else if (id == "IPRD") t.album = to_u16(text);
                sub += 8 + n + (n & 1);
            }
        }
        at += 8 + size + (size & 1);
    }
}

std::u16string parent_of(std::u16string_view path) {
    auto at = path.find_last_of(u'\\');
    return std::u16string(at == std::u16string_view::npos ? u"" : path.substr(0, at));
}

std::u16string stem_of(std::u16string_view path) {
    auto name = path.substr(path.find_last_of(u'\\') + 1);
    auto dot = name.find_last_of(u'.');
    return std::u16string(name.substr(0, dot));
}

bool ends_with_wav(std::u16string_view p) {
    if (p.size() < 4) return false;
    auto ext = p.substr(p.size() - 4);
    return equal_no_case(ext, u".wav");
}

std::function<void(std::uint32_t, std::u16string_view, bool)>& zorp_start_hook() {
    static std::function<void(std::uint32_t, std::u16string_view, bool)> hook;
    return hook;
}

}  // namespace

void start_zorp(WindowService&, std::uint32_t pid, std::u16string_view arguments, bool shown) {
    if (auto& hook = zorp_start_hook()) hook(pid, arguments, shown);
}

ZorpPlayer::ZorpPlayer(Host& host, WindowService& windows, ProcessService& processes, SoundService& sound)
    : host_(host), windows_(windows), processes_(processes), sound_(sound),
      fs_root_(fs::path(host.options().dir) / "fs") {
    zorp_start_hook() = [this](std::uint32_t pid, std::u16string_view args, bool shown) { started(pid, args, shown); };
    register_handlers();
}

ZorpPlayer::~ZorpPlayer() {
    zorp_start_hook() = nullptr;
    if (track_end_) host_.cancel(track_end_);
}

ZorpPlayer::Track ZorpPlayer::describe(std::u16string_view device_path) const {
    Track t;
    t.path = std::u16string(device_path);
    if (auto file = map_device_path(fs_root_, device_path))
        if (auto bytes = read_file(*file, kMaxWaveBytes)) wave_tags(*bytes, t);
    auto folder = parent_of(device_path);
    if (t.title.empty()) t.title = stem_of(device_path);
    if (t.album.empty()) t.album = stem_of(folder);
    std::error_code ec;
    for (auto candidate : {folder + u"\\" + stem_of(device_path) + u".png", folder + u"\\" + stem_of(device_path) + u".jpg",
                           folder + u"\\Folder.jpg", folder + u"\\Folder.png"}) {
        auto host = map_device_path(fs_root_, candidate);
        if (host && fs::is_regular_file(*host, ec)) {
            t.picture = candidate;
            break;
        }
    }
    return t;
}

void ZorpPlayer::set_playlist(const std::vector<std::u16string>& files) {
    playlist_.clear();
    index_ = 0;
    std::vector<std::u16string> paths = files;
    if (paths.empty()) {
        // The music folder's tracks, by name.
        std::error_code ec;
        if (auto dir = map_device_path(fs_root_, kMusicFolder); dir && fs::is_directory(*dir, ec)) {
            for (auto& e : fs::directory_iterator(*dir, ec)) {
                auto name = to_u16(e.path().filename().string());
                if (e.is_regular_file(ec) && ends_with_wav(name)) paths.push_back(std::u16string(kMusicFolder) + u"\\" + name);
            }
            std::sort(paths.begin(), paths.end());
        }
    }
    for (auto& p : paths)
        if (playlist_.size() < kMaxTracks) playlist_.push_back(describe(p));
}

void ZorpPlayer::started(std::uint32_t pid, std::u16string_view arguments, bool shown) {
    if (window_ && windows_.find(window_)) {
        // One player: a second start only brings the running one forward.
        if (shown) {
            windows_.show(window_, SW_SHOW);
            windows_.set_foreground(window_);
        }
        processes_.end_simulated(pid, "Zorp already runs");
        return;
    }
    pid_ = pid;
    Rect rect = windows_.screen_rect ? windows_.screen_rect() : Rect{0, 0, 480, 800};
    window_ = windows_.create_host_window(0, pid, u"Zorp", u"Zorp", WS_POPUP, 0, rect,
                                          [this](Hwnd self, std::uint32_t msg, WParam w, LParam l) {
                                              return proc(self, msg, w, l);
                                          });
    commands_.clear();
    std::vector<std::u16string> files;
    // The command line names the tracks, separated by '|'.
    std::size_t start = 0;
    while (start < arguments.size()) {
        auto bar = arguments.find(u'|', start);
        auto one = arguments.substr(start, bar == std::u16string_view::npos ? std::u16string_view::npos : bar - start);
        if (!one.empty()) files.emplace_back(one);
        if (bar == std::u16string_view::npos) break;
        start = bar + 1;
    }
    set_playlist(files);
    status_ = 1;
    if (shown) windows_.show(window_, SW_SHOW);
    if (!playlist_.empty()) {
        status_ = 0;
        start_track();
    }
    publish();
}

bool ZorpPlayer::check_running() {
    if (window_ && windows_.find(window_)) return true;
    // The process was ended from outside: its window went with it, and so does its sound.
    if (window_) {
        window_ = 0;
        if (track_end_) host_.cancel(track_end_);
        track_end_ = 0;
        sound_.stop();
    }
    return false;
}

void ZorpPlayer::start_track() {
    if (track_end_) host_.cancel(track_end_);
    track_end_ = 0;
    if (playlist_.empty()) return;
    index_ %= playlist_.size();
    std::uint32_t ms = 0;
    auto status = sound_.play(playlist_[index_].path, kSoundAsync | kSoundNoDefault, &ms);
    if (status != Status::Ok) {
        host_.log().printf("Zorp cannot play %s", to_utf8(playlist_[index_].path).c_str());
        ms = 1000;  // a track that does not play is skipped after a moment
    }
    track_end_ = host_.schedule(std::max<std::uint32_t>(ms, 200), [this] {
        track_end_ = 0;
        if (!check_running() || status_ != 0) return;
        ++index_;
        start_track();
        publish();
    });
}

void ZorpPlayer::publish() {
    auto& reg = host_.registry();
    reg.create_key(Root::CurrentUser, kKey);
    auto text = [&](std::u16string_view name, std::u16string_view v) {
        auto bytes = encode_string_value(v);
        reg.write_value(Root::CurrentUser, kKey, name, ValueType::String, bytes);
    };
    auto number = [&](std::u16string_view name, std::uint32_t v) {
        reg.write_value(Root::CurrentUser, kKey, name, ValueType::Dword, std::as_bytes(std::span(&v, 1)));
    };
    const Track none;
    const Track& t = playlist_.empty() || !window_ ? none : playlist_[index_ % playlist_.size()];
    // The title goes last: it announces the rest, which must be in place when it is read.
    text(u"CurrentArtist", t.artist);
    text(u"CurrentAlbumName", t.album);
    text(u"CurrentAlbum", t.picture);
    number(u"Status", window_ ? status_ : 2);
    number(u"MusicVolume", volume_);
    text(u"CurrentTitle", t.title);
    if (auto* w = windows_.find(window_))
        w->body = t.title.empty() ? u"" : (status_ == 0 ? u"\u25B6 " : u"\u2016 ") + t.title + u"\n" + t.artist;
}

LResult ZorpPlayer::proc(Hwnd, std::uint32_t msg, WParam w, LParam l) {
    if (msg == kWmCommand) command(std::uint32_t(w), l);
    else if (msg == WM_CLOSE) close();
    return 0;
}

void ZorpPlayer::command(std::uint32_t code, LParam l) {
    commands_.push_back(to_u16(std::to_string(code) + (code == 304 ? " " + std::to_string(l) : "")));
    if (commands_.size() > 200) commands_.erase(commands_.begin());
    host_.log().printf("Zorp command %u %d", code, int(l));
    switch (code) {
        case 301:  // play / pause
            if (playlist_.empty()) break;
            status_ = status_ == 0 ? 1 : 0;
            if (status_ == 0) start_track();
            else {
                if (track_end_) host_.cancel(track_end_);
                track_end_ = 0;
                sound_.stop();
            }
            break;
        case 302:  // next
        case 303:  // previous
            if (playlist_.empty()) break;
            index_ = code == 302 ? (index_ + 1) % playlist_.size() : (index_ + playlist_.size() - 1) % playlist_.size();
            if (status_ == 0) start_track();
            break;
        case 304: volume_ = std::uint32_t(std::clamp<LParam>(l, 0, 100)); break;
        case 305:  // the bar's knob: mute, and back
            if (volume_ != 0) {
                muted_volume_ = volume_;
                volume_ = 0;
            } else {
                volume_ = muted_volume_ ? muted_volume_ : 60;
            }
            break;
        default: break;  // 108 / 109: held next / previous, recorded only
    }
    publish();
}

void ZorpPlayer::close() {
    if (!window_) return;
    if (track_end_) host_.cancel(track_end_);
    track_end_ = 0;
    sound_.stop();
    Hwnd w = window_;
    window_ = 0;
    publish();  // no title: the panel closes
    auto pid = pid_;
    // The window and the process go once this message has been handled.
    host_.schedule(0, [this, w, pid] {
        if (windows_.find(w)) windows_.destroy(w);
        processes_.end_simulated(pid, "closed");
    });
}

bool ZorpPlayer::play(const std::vector<std::u16string>& files, std::string* why) {
    for (auto& f : files) {
        auto host = map_device_path(fs_root_, f);
        std::error_code ec;
        if (!host || !fs::is_regular_file(*host, ec)) {
            *why = "no such file on the device: " + to_utf8(f);
            return false;
        }
    }
    if (!check_running()) {
        std::u16string args;
        for (auto& f : files) args += (args.empty() ? u"" : u"|") + f;
        // Started as the headset button would: playing, its window in the background.
        if (!processes_.start(kPlayerPath, args, false)) {
            *why = "Zorp did not start";
            return false;
        }
        if (playlist_.empty()) {
            *why = "no .wav files to play in \\My Documents\\My Music";
            return false;
        }
        return true;
    }
    if (!files.empty()) {
        set_playlist(files);
        status_ = 0;
        start_track();
        publish();
        return true;
    }
    if (status_ != 0) windows_.post(window_, kWmCommand, 301, 0);
    return true;
}

bool ZorpPlayer::pause(std::string* why) {
    if (!check_running()) {
        *why = "Zorp is not running";
        return false;
    }
    if (status_ == 0) windows_.post(window_, kWmCommand, 301, 0);
    return true;
}

bool ZorpPlayer::next(std::string* why) {
    if (!check_running()) {
        *why = "Zorp is not running";
        return false;
    }
    windows_.post(window_, kWmCommand, 302, 0);
    return true;
}

bool ZorpPlayer::stop(std::string*) {
    if (check_running()) windows_.post(window_, WM_CLOSE, 0, 0);
    return true;
}

void ZorpPlayer::register_handlers() {
    host_.add_handler(Kind::MusicControl, [this](ClientConn&, Reader& in, Writer& out) {
        auto action = in.u32();
        auto count = in.u32();
        std::vector<std::u16string> files;
        for (std::uint32_t i = 0; i < count && in.ok(); ++i) files.push_back(in.s16());
        if (!in.done()) return false;
        if (files.size() > kMaxTracks) {
            out.status(Status::BadRequest);
            return true;
        }
        std::string why;
        bool ok = false;
        switch (action) {
            case 1: ok = play(files, &why); break;
            case 2: ok = pause(&why); break;
            case 3: ok = next(&why); break;
            case 4: ok = stop(&why); break;
            default: out.status(Status::BadRequest); return true;
        }
        if (ok) out.status(Status::Ok);
        else out.status(why.rfind("no such file", 0) == 0 ? Status::NotFound : Status::Failed).s16(to_u16(why));
        return true;
    });
    host_.add_handler(Kind::MusicStatus, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        bool on = check_running();
        const Track none;
        const Track& t = !on || playlist_.empty() ? none : playlist_[index_ % playlist_.size()];
        out.status(Status::Ok).u32(on).u32(on ? status_ : 2).u32(volume_).s16(t.title).s16(t.artist).s16(t.album)
            .s16(t.picture).u32(std::uint32_t(on ? index_ + 1 : 0)).u32(std::uint32_t(playlist_.size()));
        out.u32(std::uint32_t(commands_.size()));
        for (auto& c : commands_) out.s16(c);
        return true;
    });
}

}  // namespace lumo::host
