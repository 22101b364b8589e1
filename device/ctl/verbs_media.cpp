// The weather programs' forecasts and the music player Zorp.
#include <cstdio>
#include <cstdlib>

#include "ctl.h"
#include "lumo/platform/text.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

const char* const kSources[] = {"spb", "weather-panel", "pocket", "htc-home", "user", "manila-2d", "manila"};

int whole(const std::string& s, const char* what, int lo, int hi) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < lo || v > hi)
        usage(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
              ", not '" + s + "'");
    return int(v);
}

std::string reason(const wire::Client::Reply& r) {
    Reader rd(r.body);
    auto text = to_utf8(rd.s16());
    return rd.ok() && !text.empty() ? text : why(r.status);
}

}  // namespace

int verb_weather(Ctl& ctl, const Args& a) {
    std::uint32_t source = 0;
    for (std::uint32_t i = 0; i < 7; ++i)
        if (a.at(0) == kSources[i]) source = i + 1;
    for (const char* opt : {"--icon", "--high", "--low"})
        if (!a.has(opt)) usage(std::string("weather ") + a.at(0) + " needs " + opt);
    int icon = whole(a.opts.at("--icon"), "--icon", 0, 99);
    int high = whole(a.opts.at("--high"), "--high", -99, 199);
    int low = whole(a.opts.at("--low"), "--low", -99, 199);
    std::string unit = a.has("--unit") ? a.opts.at("--unit") : "c";
    if (unit != "c" && unit != "f") usage("--unit wants c or f, not '" + unit + "'");
    std::string city = a.has("--city") ? a.opts.at("--city") : "Lumo City";
    if (city.empty() || city.size() > 40) usage("--city wants a name of 1 to 40 characters");
    auto& w = ctl.begin(Kind::WeatherSet);
    w.u32(source).i32(icon).i32(high).i32(low).u32(unit == "f").s16(to_u16(city));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the forecast was not written: " + reason(r));
    return kDone;
}

int verb_weather_clear(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::WeatherClear);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the forecasts were not removed: " + why(r.status));
    return kDone;
}

int verb_music(Ctl& ctl, const Args& a) {
    std::uint32_t action = a.sub == "play" ? 1 : a.sub == "pause" ? 2 : a.sub == "next" ? 3 : 4;
    auto& w = ctl.begin(Kind::MusicControl);
    w.u32(action).u32(std::uint32_t(a.count()));
    for (std::size_t i = 0; i < a.count(); ++i) w.s16(to_u16(a.at(i)));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail(reason(r));
    return kDone;
}

int verb_music_status(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::MusicStatus);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no music player");
    Reader rd(r.body);
    auto running = rd.u32();
    auto status = rd.u32();
    auto volume = rd.u32();
    auto title = to_utf8(rd.s16()), artist = to_utf8(rd.s16()), album = to_utf8(rd.s16()), picture = to_utf8(rd.s16());
    auto track = rd.u32(), tracks = rd.u32();
    auto count = rd.u32();
    std::vector<std::string> commands;
    for (std::uint32_t i = 0; i < count && rd.ok(); ++i) commands.push_back(to_utf8(rd.s16()));
    if (!rd.ok()) fail("the player's status is garbled");
    std::printf("running\t%u\nstate\t%s\nvolume\t%u\ntitle\t%s\nartist\t%s\nalbum\t%s\npicture\t%s\ntrack\t%u/%u\n",
                running, status == 0 ? "playing" : status == 1 ? "paused" : "stopped", volume, title.c_str(),
                artist.c_str(), album.c_str(), picture.c_str(), track, tracks);
    for (auto& c : commands) std::printf("command\t%s\n", c.c_str());
    return kDone;
}

}  // namespace lumo::ctl
