#pragma once
// lumo-devctl's pieces: the connection to the device, the table of verbs with their argument
// shapes, and the helpers the verbs share. Each area's verbs live in a verbs_<area>.cpp file;
// a new verb is one row in verbs.cpp and one function.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/clock.h"
#include "lumo/wire/client.h"

namespace lumo::ctl {

// Exit statuses every verb keeps to.
inline constexpr int kDone = 0, kRefused = 1, kUsage = 2, kNoDevice = 3;

// The device as a verb meets it: the folder and, once a verb needs it, the connection.
class Ctl {
  public:
    explicit Ctl(std::string dir) : dir_(std::move(dir)) {}
    const std::string& dir() const { return dir_; }
    // Connects on first use; a device that is not there ends the tool with status 3.
    wire::Client& client();
    // A request and its reply; a device that stops answering ends the tool with status 3.
    wire::Client::Reply call(wire::Writer& w);
    wire::Writer& begin(wire::Kind kind) { return client().begin(kind); }

    struct Value {
        std::uint32_t type;
        std::vector<std::byte> data;
    };
    std::optional<Value> read(std::uint32_t root, const std::u16string& key,
                              const std::u16string& name);
    std::vector<std::u16string> subkeys(std::uint32_t root, const std::u16string& key);
    std::vector<std::u16string> values(std::uint32_t root, const std::u16string& key);
    bool key_exists(std::uint32_t root, const std::u16string& key);

  private:
    std::vector<std::u16string> enum_names(wire::Kind kind, std::uint32_t root, const std::u16string& key);
    std::string dir_;
    std::unique_ptr<wire::Client> client_;
};

// A command line checked against a verb's shape.
struct Args {
    std::string verb;
    std::string sub;               // the sub-verb word given ("" when the row has none)
    std::vector<std::string> pos;  // positional arguments in shape order; optional ones absent
    std::map<std::string, std::string> opts;  // options given, with their value ("" for flags)
    bool has(const std::string& opt) const { return opts.count(opt) != 0; }
    const std::string& at(std::size_t i) const { return pos.at(i); }
    std::size_t count() const { return pos.size(); }
};

using Handler = int (*)(Ctl&, const Args&);

// One form of a verb. `sub` is a word, or words separated by '|', that must come first; `shape`
// lists the rest: PLACEHOLDER (upper case; X, Y, PID, MS... are checked as numbers), a|b|c (one
// of these words), [optional], WORD... (any number), [--flag] or [--a|--b], [--opt VALUE].
struct Verb {
    const char* name;
    const char* sub;
    const char* shape;
    const char* help;
    Handler handler;
};

// The whole table, in the order --help lists it.
const std::vector<Verb>& verbs();

// Usage errors (status 2) and refusals (status 1): one line on standard error, "lumo-devctl: "
// first.
[[noreturn]] void usage(const std::string& msg);
[[noreturn]] void fail(const std::string& msg, int status = kRefused);
void say(const std::string& msg);

std::uint32_t parse_number(const std::string& s, const char* what);
std::int32_t parse_coordinate(const std::string& s, const char* what);
std::uint32_t reply_u32(const wire::Client::Reply& r);
std::string why(wire::Status s);

// Verbs shared by several areas.
std::uint32_t find_class(Ctl& ctl, const std::string& cls);
std::vector<std::pair<std::uint32_t, std::string>> processes(Ctl& ctl);

// Handlers, by area.
int verb_status(Ctl&, const Args&);
int verb_shutdown(Ctl&, const Args&);
int verb_time(Ctl&, const Args&);
int verb_lock(Ctl&, const Args&);
int verb_settings(Ctl&, const Args&);
int verb_log(Ctl&, const Args&);

int verb_reg_get(Ctl&, const Args&);
int verb_reg_set(Ctl&, const Args&);
int verb_reg_delete(Ctl&, const Args&);
int verb_reg_export(Ctl&, const Args&);

int verb_windows(Ctl&, const Args&);
int verb_fullscreen(Ctl&, const Args&);
int verb_processes(Ctl&, const Args&);
int verb_start(Ctl&, const Args&);
int verb_kill(Ctl&, const Args&);
int verb_post(Ctl&, const Args&);
int verb_send(Ctl&, const Args&);
int verb_wait(Ctl&, const Args&);
int verb_dialogs(Ctl&, const Args&);
int verb_dialog(Ctl&, const Args&);
int verb_key(Ctl&, const Args&);

int verb_screenshot(Ctl&, const Args&);
int verb_touch(Ctl&, const Args&);
int verb_tap(Ctl&, const Args&);
int verb_drag(Ctl&, const Args&);
int verb_display(Ctl&, const Args&);
int verb_rotate(Ctl&, const Args&);

int verb_power(Ctl&, const Args&);
int verb_power_status(Ctl&, const Args&);
int verb_power_ac(Ctl&, const Args&);
int verb_power_capacity(Ctl&, const Args&);
int verb_sound_status(Ctl&, const Args&);
int verb_sound_play(Ctl&, const Args&);
int verb_sound_stop(Ctl&, const Args&);
int verb_radio_list(Ctl&, const Args&);
int verb_radio_set(Ctl&, const Args&);
int verb_notifications(Ctl&, const Args&);
int verb_weather(Ctl&, const Args&);
int verb_weather_clear(Ctl&, const Args&);
int verb_music(Ctl&, const Args&);
int verb_music_status(Ctl&, const Args&);
int verb_led(Ctl&, const Args&);

// A local date and time in ISO form, YYYY-MM-DD[THH:MM[:SS]]; `has_time` tells whether a time
// was given. Nullopt for anything else, a day the month lacks included.
std::optional<platform::LocalTime> parse_local_time(const std::string& s, bool* has_time);
int verb_message_send(Ctl&, const Args&);
int verb_voicemail(Ctl&, const Args&);
int verb_appointment_add(Ctl&, const Args&);
int verb_appointment_list(Ctl&, const Args&);
int verb_appointment_delete(Ctl&, const Args&);
int verb_task_add(Ctl&, const Args&);
int verb_task_complete(Ctl&, const Args&);
int verb_alarm(Ctl&, const Args&);
int verb_reminder(Ctl&, const Args&);
int verb_gsm_network(Ctl&, const Args&);
int verb_radio_flight(Ctl&, const Args&);
int verb_network(Ctl&, const Args&);
int verb_ringer(Ctl&, const Args&);
int verb_headset(Ctl&, const Args&);
int verb_cradle(Ctl&, const Args&);
int verb_stylus(Ctl&, const Args&);
int verb_keyboard(Ctl&, const Args&);
int verb_sensor(Ctl&, const Args&);
int verb_sync(Ctl&, const Args&);
int verb_owner(Ctl&, const Args&);
int verb_state(Ctl&, const Args&);
int verb_gsm(Ctl&, const Args&);
int verb_gsm_list(Ctl&, const Args&);
int verb_gsm_volume(Ctl&, const Args&);
int verb_power_hold(Ctl&, const Args&);
int verb_contact(Ctl&, const Args&);
int verb_sim(Ctl&, const Args&);
int verb_calllog(Ctl&, const Args&);

}  // namespace lumo::ctl
