// The password keypad and the emergency-call keypad: the lock's conditions, the layout in every
// orientation, the opening, wrong-code and closing animations, the shuffled digits, touches and
// hardware keys, the code check, and the emergency call placed through the service.
#include <algorithm>
#include <cstdio>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
namespace proto = protocol;
using catalogue::Id;

namespace {

constexpr std::u16string_view kPasswordKey = u"ControlPanel\\Password";
constexpr std::u16string_view kHintCounter = u"HintCounter";
constexpr std::uint32_t kMaxPasswordTime = 86400;
constexpr std::uint32_t kLongPressMs = 200;
constexpr std::size_t kEmergencyListChars = 1024;
constexpr int kOpenFrames = 8, kSlideFrames = 5;
constexpr int kBehindAlpha = 18;
constexpr int kFlashMax = 16;
constexpr int kLabelEmergency = 10, kLabelCancel = 11, kLabelHash = 12, kLabelHeader = 13, kLabelDial = 14;
// Virtual keys the keypads answer.
constexpr std::uint8_t kVkCancel = 3, kVkBack = 8, kVkClear = 12, kVkEscape = 27;
constexpr std::uint8_t kVkTalk = 114, kVkEnd = 115, kVkStar = 119, kVkHash = 120;

std::uint32_t setting(const Context& c, Id id) { return c.settings.num(id); }
int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
void kill(Context& c, std::uint32_t id) { c.p.windows().kill_timer(c.main_window, id); }
void arm(Context& c, std::uint32_t id, std::uint32_t ms) { c.p.windows().set_timer(c.main_window, id, ms); }
std::uint32_t now_ms(Context& c) { return c.p.clock().tick_count(); }

bool in_keypad(const Context& c) {
    return c.state == ScreenState::PasswordEntry || c.state == ScreenState::EmergencyCall;
}
bool emergency(const Context& c) { return c.state == ScreenState::EmergencyCall; }

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

void release(gfx::Image& img) {
    gfx::ReleaseImage(img, true);
    img.width = img.height = 0;
}

bool load_picture(Context& c, gfx::Image& img, std::u16string_view file) {
    if (gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) return true;
    release(img);
    c.log.printf("Picture %s cannot be loaded", to_utf8(file).c_str());
    return false;
}

gfx::FrameClock& frame_clock(Context& c) { return c.frame_clock ? *c.frame_clock : gfx::SystemFrameClock(); }

// One frame of a keypad animation, at least 50 ms after the previous one.
void animation_frame(Context& c, std::uint32_t& last) {
    if (c.screen.suspended || !c.screen.back_buffer) return;
    auto& clock = frame_clock(c);
    std::uint32_t now = clock.now_ms();
    if (now - last < 50) clock.sleep_ms(50 - (now - last));
    last = clock.now_ms();
    compose_frame(c);
    if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
}

// The animation timer stands still while an animation draws its own frames.
void stop_anim(Context& c) {
    kill(c, kAnimTimer);
    c.anim_armed = false;
}

// --- layout -------------------------------------------------------------------------------------

int header_height(const Context& c) {
    const auto& h = c.keypad.labels[kLabelHeader];
    return h.empty() ? unit(c, 24) : h.height;
}

bool fit(Context& c, gfx::Image& out, const gfx::Image& src, int w, int h) {
    release(out);
    if (src.empty()) return false;
    return gfx::ResizeImage(out, c.screen, src, w, h, false, false);
}

// Lays the keypad out for the current screen and state. Keys keep their picture's size where
// it fits; a screen too low for four rows (landscape, the emergency keypad's button bar) gets
// flatter keys, and a landscape screen puts the header, boxes and number beside the keys.
void layout(Context& c) {
    auto& k = c.keypad;
    auto& at = k.at;
    const int W = c.screen_width, H = c.screen_height;
    const bool land = W > H;
    const bool ec = emergency(c);
    const int bar = ec && setting(c, Id::NoSoftKey) == 0 ? unit(c, 60) : 0;
    const int kw0 = k.key_src.empty() ? unit(c, 80) : k.key_src.width;
    const int kh0 = k.key_src.empty() ? unit(c, 56) : k.key_src.height;
    const int bw0 = k.box_src.empty() ? unit(c, 40) : k.box_src.width;
    const int bh0 = k.box_src.empty() ? unit(c, 48) : k.box_src.height;
    const int hh = header_height(c);
    int sp = unit(c, 8);
    at.side_x = 0;
    at.side_w = land ? W / 2 : W;
    // The boxes keep a gap between them and at the edges, however narrow their room.
    const int bw = std::max(1, std::min(bw0, (at.side_w - 7 * unit(c, 4)) / 4));
    const int bh = std::max(1, bh0 * bw / std::max(1, bw0));
    int kw, kh;
    if (land) {
        kw = std::min(kw0, (W - at.side_w - unit(c, 8)) / 3);
        kh = std::min(kh0, (H - bar - unit(c, 4)) / 4);
        at.keys_x = at.side_w + (W - at.side_w - 3 * kw) / 2;
    } else {
        if (4 * kh0 + bh + 2 * sp + hh + unit(c, 4) > H) sp = unit(c, 4);  // cramped
        int above = ec ? 2 * hh + 3 * sp : bh + 2 * sp + hh + unit(c, 4);
        kw = std::min(kw0, W / 3);
        kh = std::min(kh0, (H - bar - above) / 4);
        at.keys_x = (W - 3 * kw) / 2;
    }
    kh = std::max(kh, 1);
    kw = std::max(kw, 1);
    at.spacing = sp;
    at.key_w = kw;
    at.key_h = kh;
    at.keys_top = H - bar - 4 * kh;
    at.box_w = bw;
    at.box_h = bh;
    at.box_gap = std::max(0, (at.side_w - 4 * bw) / 7);
    at.boxes_x = at.side_x + 2 * at.box_gap;
    if (land) {
        int group = hh + sp + bh;
        at.header_y = std::max(0, (H - bar - group) / 2);
        at.boxes_y = at.header_y + hh + sp;
        if (ec) at.header_y = std::min(unit(c, 24), std::max(0, (H - bar - 3 * hh) / 2));
    } else {
        at.boxes_y = at.keys_top - sp - bh;
        bool tall = unit(c, 24) + hh + unit(c, 40) + bh + sp + 4 * kh + bar <= H;
        at.header_y = tall ? unit(c, 24) : std::max(0, at.boxes_y - sp - hh);
        if (ec) at.header_y = std::clamp(at.keys_top - 2 * hh - 3 * sp, 0, unit(c, 24));
    }
    at.band_top = std::max(0, at.header_y - sp / 2);
    at.band_bottom = at.header_y + hh + sp / 2;
    // The emergency keypad's number row, its delete arrow and the buttons of the bottom bar.
    at.dial_top = at.header_y + hh + sp;
    at.dial_bottom = land ? H - bar - sp : at.keys_top - sp;
    if (at.dial_bottom < at.dial_top) at.dial_bottom = at.dial_top;
    int aw = k.arrow.empty() ? unit(c, 32) : k.arrow.width, ah = k.arrow.empty() ? unit(c, 24) : k.arrow.height;
    at.arrow_x = at.side_x + at.side_w - aw - unit(c, 6);
    at.arrow_y = (at.dial_top + at.dial_bottom - ah) / 2;
    at.bar_top = H - bar;
    at.button_w = k.call_buttons.empty() ? unit(c, 116) : k.call_buttons.width / 4;
    at.button_h = k.call_buttons.empty() ? unit(c, 44) : k.call_buttons.height;
    at.button_y = at.bar_top + (bar - at.button_h) / 2;
    at.call_x = (W / 2 - at.button_w) / 2;
    at.right_x = W / 2 + (W / 2 - at.button_w) / 2;
    // The pictures in their laid-out size.
    fit(c, k.key, k.key_src, kw, kh);
    fit(c, k.box, k.box_src, bw, bh);
}

// --- texts ----------------------------------------------------------------------------------------

void render(Context& c, gfx::Image& img, std::u16string_view text, int size, int weight, std::uint32_t format = 0,
            int width = 0) {
    release(img);
    if (text.empty() || !c.screen.fonts || size <= 0) return;
    gfx::RenderText(img, c.screen, size, weight, 0xFFFFFF, text,
                    format ? format : std::uint32_t(gfx::kTextSingleLine), width, 0, 0, 0, false, 0);
}

void render_header(Context& c) {
    auto& k = c.keypad;
    std::u16string text = k.header_text;
    if (emergency(c) && k.StatusShown) text += k.status;
    render(c, k.labels[kLabelHeader], text, unit(c, 20), k.WrongShown ? 600 : 400);
}

// The digit labels in a bold font of key width / 3.5, and the word labels.
void make_labels(Context& c) {
    auto& k = c.keypad;
    c.log.printf("PW Keys loading gfx");
    k.label_size = std::max(1, k.at.key_w * 2 / 7);
    for (int d = 0; d <= 9; ++d) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%d", d);
        render(c, k.labels[d], to_u16(buf), k.label_size, 700);
    }
    // The word labels wrap between words; a font small enough for the longest word keeps every
    // word whole on a narrow key.
    const auto emergency_text = text_or(c, u"s_Emergency=", u"Emergency Call");
    const auto cancel_text = text_or(c, u"s_Cancel=", u"Cancel");
    const int room = std::max(1, k.at.key_w - unit(c, 8));
    int words = std::min(k.label_size, unit(c, 13));
    while (words > 6) {
        auto font = gfx::CreateTextFont(c.screen, words, 600);
        if (!font) break;
        int widest = 0;
        for (const auto* text : {&emergency_text, &cancel_text}) {
            std::size_t from = 0;
            while (from <= text->size()) {
                std::size_t to = std::min(text->find(u' ', from), text->size());
                widest = std::max(widest, font->text_width(std::u16string_view(*text).substr(from, to - from)));
                from = to + 1;
            }
        }
        if (widest <= room) break;
        --words;
    }
    std::uint32_t wrap = gfx::kTextCenter | gfx::kTextWordBreak;
    render(c, k.labels[kLabelEmergency], emergency_text, words, 600, wrap, room);
    render(c, k.labels[kLabelCancel], cancel_text, words, 600, wrap, room);
    render(c, k.labels[kLabelHash], u"#", k.label_size, 700);
    render(c, k.end_text, text_or(c, u"s_EndCall=", u"End Call"), unit(c, 13), 600);
    k.labels_made = true;
}

// The typed number, in the largest font from DialFontSize down that fits beside the delete
// arrow, never below the labels' size.
void render_dial(Context& c) {
    auto& k = c.keypad;
    auto& img = k.labels[kLabelDial];
    release(img);
    if (k.DialText.empty() || !c.screen.fonts) return;
    int room = k.at.side_w - (k.arrow.empty() ? unit(c, 32) : k.arrow.width) - unit(c, 12);
    int least = std::max(1, k.label_size);
    int size = std::max(least, k.DialFontSize);
    auto font = gfx::CreateTextFont(c.screen, size, 400);
    while (font && size > least) {
        int w = font->text_width(k.DialText);
        if (w <= room) break;
        // A proportional jump, then single steps: a long number is not re-measured 40 times.
        int next = std::max(least, std::min(size - 1, size * room / std::max(1, w) + 1));
        size = next;
        font = gfx::CreateTextFont(c.screen, size, 400);
    }
    k.DialFontSize = size;
    if (font)
        gfx::RenderTextWithFont(img, c.screen, *font, 0xFFFFFF, k.DialText, gfx::kTextSingleLine, 0, 0, 0, 0, false,
                                0);
}

void set_status(Context& c, std::u16string status) {
    auto& k = c.keypad;
    k.status = std::move(status);
    k.StatusShown = !k.status.empty();
    render_header(c);
    request_redraw(c);
}

void drop_status(Context& c) {
    auto& k = c.keypad;
    k.status_until_touch = false;
    if (!k.StatusShown) return;
    set_status(c, {});
}

std::u16string status_of(Context& c, std::u16string_view key, std::u16string_view fallback, bool dots = false) {
    return u" - " + text_or(c, key, fallback) + (dots ? u"..." : u"");
}

// --- pictures -------------------------------------------------------------------------------------

void load_keypad_pictures(Context& c) {
    auto& k = c.keypad;
    c.log.printf("PW loading gfx");
    load_picture(c, k.box_src, u"pwbox.png");
    load_picture(c, k.key_src, u"pwkey.png");
    load_picture(c, k.mark, u"pwasterik.png");
    load_picture(c, k.arrow, u"pwback.png");
    k.loaded = true;
}

void release_emergency_pictures(Context& c) {
    auto& k = c.keypad;
    release(k.star);
    release(k.call_buttons);
    release(k.hang_up);
    release(k.labels[kLabelDial]);
}

void unload_keypad(Context& c) {
    auto& k = c.keypad;
    if (!k.loaded) return;
    c.log.printf("PW Unloading gfx");
    for (auto* img : {&k.box, &k.key, &k.mark, &k.arrow, &k.key_src, &k.box_src}) release(*img);
    release_emergency_pictures(c);
    for (auto& l : k.labels) release(l);
    release(k.end_text);
    k.loaded = k.labels_made = false;
}

void clear_entry(KeypadState& k) {
    k.EnteredDigits.fill(0);
    k.PressedKey.fill(false);
    k.arrow_down = k.call_down = k.right_down = false;
}

// A new digit order: the bottom-middle key first, then the nine keys of the upper rows from the
// lower left upwards, a taken digit passing to the next free one; emergency and cancel stay.
void shuffle(Context& c) {
    auto& map = c.keypad.KeyMap;
    bool taken[10] = {};
    map[1] = std::uint8_t(c.random() % 10);
    taken[map[1]] = true;
    for (int i = 3; i < kKeypadKeys; ++i) {
        int d = int(c.random() % 10);
        while (taken[d]) d = (d + 1) % 10;
        taken[d] = true;
        map[std::size_t(i)] = std::uint8_t(d);
    }
}

// --- geometry of touches --------------------------------------------------------------------------

struct Box {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

Box key_box(const Context& c, int i) {
    const auto& at = c.keypad.at;
    int col = i % 3, row = 3 - i / 3;
    return {at.keys_x + col * at.key_w, at.keys_top + row * at.key_h, at.key_w, at.key_h};
}

// The key under a point: 9 + column - 3 * row, row 0 the top row; -1 outside the keys.
int key_at(const Context& c, int x, int y) {
    const auto& at = c.keypad.at;
    if (x < at.keys_x || y < at.keys_top || at.key_w <= 0 || at.key_h <= 0) return -1;
    int col = (x - at.keys_x) / at.key_w, row = (y - at.keys_top) / at.key_h;
    if (col > 2 || row > 3) return -1;
    return 9 + col - 3 * row;
}

Box arrow_box(const Context& c) {
    const auto& k = c.keypad;
    int aw = k.arrow.empty() ? unit(c, 32) : k.arrow.width;
    // The number's whole row right of the text is the arrow's: it is small for a finger.
    return {k.at.arrow_x - unit(c, 8), k.at.dial_top, aw + unit(c, 14), std::max(1, k.at.dial_bottom - k.at.dial_top)};
}
Box call_box(const Context& c) { return {c.keypad.at.call_x, c.keypad.at.button_y, c.keypad.at.button_w, c.keypad.at.button_h}; }
Box right_box(const Context& c) { return {c.keypad.at.right_x, c.keypad.at.button_y, c.keypad.at.button_w, c.keypad.at.button_h}; }
bool bar_shown(const Context& c) { return emergency(c) && setting(c, Id::NoSoftKey) == 0; }

// --- the password keypad --------------------------------------------------------------------------

void open_emergency(Context& c);

int entered_count(const KeypadState& k) {
    int n = 0;
    while (n < kCodeLength && k.EnteredDigits[std::size_t(n)] != 0) ++n;
    return n;
}

void set_header(Context& c, std::u16string text, bool wrong) {
    auto& k = c.keypad;
    k.header_text = std::move(text);
    k.WrongShown = wrong;
    k.FlashAlpha = 0;
    render_header(c);
}

// The wrong code is shown: the scene slides out to the left, the digits clear, the header turns
// to the wrong-code text with its red flash and the scene comes back from the right.
void wrong_code(Context& c) {
    auto& k = c.keypad;
    stop_anim(c);
    int step = std::max(1, (c.screen_width - 2 * k.at.box_gap) / kSlideFrames);
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    for (int f = 1; f <= kSlideFrames; ++f) {
        k.slide_x = -step * f;
        animation_frame(c, last);
    }
    k.EnteredDigits.fill(0);
    set_header(c, text_or(c, u"s_WrongPw=", u"Wrong Password"), true);
    for (int f = 1; f <= kSlideFrames; ++f) {
        k.slide_x = step * (kSlideFrames - f);
        animation_frame(c, last);
    }
    k.slide_x = 0;
    request_redraw(c);
}

void key_pressed(Context& c, std::uint8_t value) {
    auto& k = c.keypad;
    switch (value) {
        case kKeyCancel: leave_keypad(c, true); return;
        case kKeyDelete: {
            if (now_ms(c) - k.PressTick > kLongPressMs) {
                k.EnteredDigits.fill(0);
            } else if (int n = entered_count(k); n > 0) {
                k.EnteredDigits[std::size_t(n - 1)] = 0;
            }
            request_redraw(c);
            return;
        }
        case kKeyEmergency: open_emergency(c); return;
        default: break;
    }
    if (value > 9) return;
    int slot = entered_count(k);
    if (slot >= kCodeLength) return;
    // A new attempt puts the ordinary header back.
    if (k.WrongShown) set_header(c, text_or(c, u"s_EnterPw=", u"Enter Password"), false);
    k.EnteredDigits[std::size_t(slot)] = char('0' + value);
    c.log.printf("PW Pressed %d(%d)", int(value), slot);
    request_redraw(c);
    if (slot + 1 < kCodeLength) return;
    if (k.in_force && std::equal(k.EnteredDigits.begin(), k.EnteredDigits.end(), k.code.begin())) {
        k.code_entered = true;
        unlock_request(c, false);
    } else {
        wrong_code(c);
    }
}

// The value the bottom-right key stands for now: cancel while nothing is typed, else delete.
std::uint8_t key_value(const Context& c, int index) {
    const auto& k = c.keypad;
    std::uint8_t v = k.KeyMap[std::size_t(index)];
    if (!emergency(c) && v == kKeyCancel && entered_count(k) > 0) return kKeyDelete;
    return v;
}

// --- the emergency keypad -------------------------------------------------------------------------

// A two-frame button face made `w` wide a frame, as wide as the call button beside it: the
// rounded ends stay as drawn and the middle column repeats.
void widen(gfx::Image& img, int w) {
    const int fw = img.width / 2, h = img.height;
    if (img.empty() || fw >= w) return;
    const int cap = std::min(fw / 2, h / 2);
    gfx::Image out;
    if (!gfx::ResizeBuffers(out, 2 * w, h, true)) return;
    for (int f = 0; f < 2; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sx = (x < cap ? x : x >= w - cap ? fw - (w - x) : fw / 2) + f * fw;
                out.at(f * w + x, y) = img.at(sx, y);
                out.alpha_row(y)[f * w + x] = img.has_alpha() ? img.alpha_row(y)[sx] : 32;
            }
    std::swap(img, out);
    release(out);
}

void update_hang_up(Context& c, bool red) {
    auto& k = c.keypad;
    load_picture(c, k.hang_up, red ? u"buttonR.png" : u"buttonB.png");
    if (!k.call_buttons.empty()) widen(k.hang_up, k.call_buttons.width / 4);
}

// The phone's emergency numbers, up to 1024 characters in all; true when `number` is one.
bool valid_emergency_number(Context& c, const std::u16string& number) {
    std::size_t total = 0;
    bool valid = false;
    for (const auto& entry : c.p.telephony().emergency_numbers()) {
        if (total + entry.size() > kEmergencyListChars) break;
        total += entry.size();
        c.log.printf("EC list %s", to_utf8(entry).c_str());
        if (entry.size() == number.size() && entry == number) valid = true;
    }
    c.log.printf("Validate EC %d", int(valid));
    return valid;
}

void hang_up(Context& c) {
    auto& k = c.keypad;
    if (k.EmergencyCallPhase == kPhaseIdle && !k.DialingOwn) return;
    post_service(c, proto::WM_MakeCall, proto::kMakeCallHangUp, 0);
    k.HangUpAsked = true;
}

bool call_going(const KeypadState& k) { return k.EmergencyCallPhase != kPhaseIdle || (k.DialingOwn && !k.HangUpAsked); }

void call_button(Context& c) {
    auto& k = c.keypad;
    if (k.DialText.empty() || call_going(k)) return;
    if (!valid_emergency_number(c, k.DialText)) {
        set_status(c, status_of(c, u"s_Invalid=", u"invalid"));
        k.status_until_touch = true;
        return;
    }
    // The number goes through the mailbox before the message that announces it.
    if (auto root = catalogue::open_root(c.p.registry())) {
        catalogue::write_text(c.p.registry(), root->key, proto::mailbox::kDialNumber, k.DialText);
        c.p.registry().flush(root->key);
    }
    post_service(c, proto::WM_MakeCall, proto::kMakeCallDial, 0);
    k.DialingOwn = true;
    k.HangUpAsked = false;
    k.CallSeconds = 0;
}

void play_tone(Context& c, std::uint8_t value) {
    char16_t tone = value == kKeyEmergency ? proto::kDtmfStar : value == kKeyCancel ? proto::kDtmfHash : char16_t(u'0' + value);
    if (c.keypad.EmergencyCallPhase == kPhaseConnected) {
        // On a connected call the tone is the phone program's to send down the line.
        if (Hwnd phone = c.p.windows().find_window(kPhoneProgramClass, std::nullopt))
            c.p.windows().post(phone, kPhoneKeyToneMessage, tone, 0);
    } else {
        post_service(c, proto::WM_PlayDTMF, tone, 0);
    }
}

void dial_key_pressed(Context& c, std::uint8_t value) {
    auto& k = c.keypad;
    if (k.EmergencyCallPhase == kPhaseDialing || value > kKeyCancel) return;
    if (k.DialText.size() < kDialMax) {
        k.DialText.push_back(value == kKeyEmergency ? u'*' : value == kKeyCancel ? u'#' : char16_t(u'0' + value));
        render_dial(c);
    }
    play_tone(c, value);
    request_redraw(c);
}

void dial_delete(Context& c, bool held) {
    auto& k = c.keypad;
    if (k.DialText.empty()) return;
    if (held || k.DialText.size() == 1) {
        k.DialText.clear();
        k.DialFontSize = k.dial_font_start;
    } else {
        k.DialText.pop_back();
        k.DialFontSize = std::min(k.dial_font_start, k.DialFontSize + unit(c, 5));
    }
    render_dial(c);
    request_redraw(c);
}

// Slides the keypad out to the left in five frames.
void slide_out(Context& c, std::uint32_t& last) {
    auto& k = c.keypad;
    for (int f = 1; f <= kSlideFrames; ++f) {
        k.slide_x = -c.screen_width * f / kSlideFrames;
        animation_frame(c, last);
    }
}

// ... and in from the right, rising by `rise` on the way.
void slide_in(Context& c, std::uint32_t& last, int rise) {
    auto& k = c.keypad;
    for (int f = 1; f <= kSlideFrames; ++f) {
        k.slide_x = c.screen_width * (kSlideFrames - f) / kSlideFrames;
        k.slide_y = rise * (kSlideFrames - f) / kSlideFrames;
        animation_frame(c, last);
    }
    k.slide_x = k.slide_y = 0;
}

void open_emergency(Context& c) {
    auto& k = c.keypad;
    c.log.printf("Emergency keypad");
    stop_anim(c);
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    slide_out(c, last);
    clear_entry(k);
    k.DialText.clear();
    load_picture(c, k.star, u"ecasterik.png");
    load_picture(c, k.call_buttons, u"buttons.png");
    update_hang_up(c, false);
    c.state = ScreenState::EmergencyCall;
    k.WrongShown = false;
    k.status.clear();
    k.StatusShown = k.status_until_touch = false;
    k.header_text = text_or(c, u"s_Emergency=", u"Emergency Call");
    render_header(c);
    layout(c);
    if (k.label_size != std::max(1, k.at.key_w * 2 / 7)) make_labels(c);
    k.dial_font_start = k.DialFontSize = header_height(c) + k.at.spacing;
    post_service(c, proto::WM_SlideDialing, 1, 0);
    k.EmergencyCallPhase = kPhaseIdle;
    k.DialingOwn = k.HangUpAsked = false;
    k.CallSeconds = 0;
    set_all_timer(c);
    stop_anim(c);
    slide_in(c, last, bar_shown(c) ? unit(c, 60) : 0);
    request_redraw(c);
}

// Back to the password keypad (the right-hand button or the end key while no call is going).
void back_to_password(Context& c) {
    auto& k = c.keypad;
    if (k.DialingOwn) hang_up(c);
    c.log.printf("Emergency keypad closed");
    stop_anim(c);
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    slide_out(c, last);
    kill(c, kTimerEmergencyTime);
    release_emergency_pictures(c);
    k.DialText.clear();
    k.status.clear();
    k.StatusShown = k.status_until_touch = false;
    k.EmergencyCallPhase = kPhaseIdle;
    k.DialingOwn = false;
    clear_entry(k);
    c.state = ScreenState::PasswordEntry;
    set_header(c, text_or(c, u"s_EnterPw=", u"Enter Password"), false);
    layout(c);
    if (k.label_size != std::max(1, k.at.key_w * 2 / 7)) make_labels(c);
    post_service(c, proto::WM_SlideDialing, 0, 0);
    slide_in(c, last, 0);
    request_redraw(c);
}

// --- drawing --------------------------------------------------------------------------------------

void fill(Context& c, gfx::Brush& brush, int x1, int y1, int x2, int y2, int alpha) {
    auto* old = gfx::SelectBrush(c.screen, &brush);
    gfx::FillRect(c.screen, x1, y1, x2, y2, alpha);
    if (old) gfx::SelectBrush(c.screen, old);
}

void centred(Context& c, const gfx::Image& img, int x, int y, int w, int h, int alpha, std::uint32_t mode = gfx::kColourKey) {
    if (img.empty()) return;
    gfx::DrawImage(img, c.screen, x + (w - img.width) / 2, y + (h - img.height) / 2, 0, 0, 0, mode, alpha);
}

void draw_keys(Context& c, int dx, int dy, int a) {
    auto& k = c.keypad;
    const bool ec = emergency(c);
    for (int i = 0; i < kKeypadKeys; ++i) {
        auto b = key_box(c, i);
        int x = b.x + dx, y = b.y + dy;
        if (!k.key.empty()) {
            gfx::DrawImage(k.key, c.screen, x, y, 0, 0, 0, gfx::kCopy, a);
        } else {
            gfx::Brush grey = gfx::MakeBrush(gfx::RGBTo565(c.screen.format, 70, 70, 80));
            fill(c, grey, x + 1, y + 1, x + b.w - 1, y + b.h - 1, std::min(a, 20));
        }
        if (k.PressedKey[std::size_t(i)]) fill(c, c.blue, x + 2, y + 2, x + b.w - 2, y + b.h - 2, std::min(a, 16));
        if (!k.labels_made) continue;
        std::uint8_t v = key_value(c, i);
        const gfx::Image* label = nullptr;
        std::uint32_t mode = gfx::kColourKey;
        if (v <= 9) label = &k.labels[v];
        else if (v == kKeyEmergency) label = ec ? &k.star : &k.labels[kLabelEmergency];
        else if (v == kKeyCancel) label = ec ? &k.labels[kLabelHash] : &k.labels[kLabelCancel];
        else if (v == kKeyDelete) label = &k.arrow;
        if (label) centred(c, *label, x, y, b.w, b.h, a, mode);
    }
}

void draw_bar(Context& c, int dy, int a) {
    auto& k = c.keypad;
    auto& at = k.at;
    gfx::Brush black = gfx::MakeBrush(0);
    fill(c, black, 0, at.bar_top + dy, c.screen_width, c.screen_height + dy,
         std::min<int>(int(setting(c, Id::CurtainAlpha)), a));
    if (!k.call_buttons.empty())
        gfx::DrawImage(k.call_buttons, c.screen, at.call_x, at.button_y + dy, (k.call_down ? 1 : 0) * at.button_w,
                       at.button_w, 0, gfx::kCopy, a);
    else
        fill(c, c.blue, at.call_x, at.button_y + dy, at.call_x + at.button_w, at.button_y + at.button_h + dy, std::min(a, 24));
    if (!k.hang_up.empty()) {
        int fw = k.hang_up.width / 2;
        gfx::DrawImage(k.hang_up, c.screen, at.right_x + (at.button_w - fw) / 2, at.button_y + dy,
                       (k.right_down ? 1 : 0) * fw, fw, 0, gfx::kCopy, a);
    } else {
        fill(c, c.red, at.right_x, at.button_y + dy, at.right_x + at.button_w, at.button_y + at.button_h + dy, std::min(a, 24));
    }
    // The right-hand button goes back while no call is going and hangs up during one.
    centred(c, call_going(k) ? k.end_text : k.labels[kLabelCancel], at.right_x, at.button_y + dy, at.button_w,
            at.button_h, a);
}

}  // namespace

// --- entry points -----------------------------------------------------------------------------------

bool read_password_lock(Context& c) {
    auto& k = c.keypad;
    auto& reg = c.p.registry();
    std::uint8_t lock = 0;
    std::uint32_t seconds = 0;
    std::array<std::byte, kCodeLength> code{};
    bool code_read = false;
    if (auto root = catalogue::open_root(reg)) {
        catalogue::read_byte(reg, root->key, catalogue::setting(Id::PasswordLock).name, lock);
        catalogue::read_number(reg, root->key, catalogue::setting(Id::PasswordTime).name, seconds);
        code_read = catalogue::read_blob(reg, root->key, catalogue::setting(Id::SavedPassword).name, code);
    }
    bool digits = code_read && std::all_of(code.begin(), code.end(), [](std::byte b) {
                      return std::to_integer<int>(b) >= '0' && std::to_integer<int>(b) <= '9';
                  });
    bool pictures = lock != 0 && device_file_exists(c, gfx_path(c, u"pwbox.png")) &&
                    device_file_exists(c, gfx_path(c, u"pwkey.png"));
    k.in_force = lock != 0 && digits && pictures;
    for (std::size_t i = 0; i < code.size(); ++i) k.code[i] = k.in_force ? char(std::to_integer<int>(code[i])) : 0;
    k.password_time = std::min(seconds, kMaxPasswordTime);
    if (auto key = reg.open_key(Root::LocalMachine, kPasswordKey)) {
        ValueInfo info;
        info.size = 0xFFFFFFFF;
        if (reg.read_value(*key, kHintCounter, {}, &info) || info.size != 0xFFFFFFFF)
            c.settings.set_num(Id::NoSystemLock, 1);
    }
    return k.in_force;
}

bool code_needed(Context& c) {
    if (!read_password_lock(c)) return false;
    std::uint64_t last = read_last_lock_time(c), now = now_seconds(c);
    return last != 0 && (now < last || now - last > c.keypad.password_time);
}

void guard_lock(Context& c) {
    if (!c.locked || !c.main_window) return;
    auto info = c.p.windows().window_info(c.main_window);
    if (!info || !info->visible) return;
    // A call is the phone's: its own windows come in front to be answered and ended.
    auto status = c.p.registry().get_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status");
    auto calls = c.p.registry().get_dword(Root::LocalMachine, u"System\\State\\Phone", u"Active Call Count");
    if (!emergency(c) && ((status && (*status & 0x70000)) || (calls && *calls > 0))) return;
    if (!code_needed(c)) return;
    c.log.printf("Guard lock");
    arm(c, kTimerRepeatLock, 400);
    c.repeat_count = 0;
}

bool take_code_entered(Context& c) {
    bool entered = c.keypad.code_entered && c.state == ScreenState::PasswordEntry;
    c.keypad.code_entered = false;
    return entered;
}

bool emergency_call_going(const Context& c) { return emergency(c) && call_going(c.keypad); }

void open_password_keypad(Context& c) {
    auto& k = c.keypad;
    // Asked again while it is up (a second unlock request): it stays as it is.
    if (in_keypad(c)) return;
    load_keypad_pictures(c);
    clear_entry(k);
    k.KeyMap = {10, 0, 11, 7, 8, 9, 4, 5, 6, 1, 2, 3};
    k.code_entered = false;
    c.state = ScreenState::PasswordEntry;
    set_header(c, text_or(c, u"s_EnterPw=", u"Enter Password"), false);
    layout(c);
    set_all_timer(c);
    stop_anim(c);
    // The lock screen's panels leave while the keypad comes in from the left.
    std::uint32_t last = frame_clock(c).now_ms() - 50;
    for (int f = 1; f <= kOpenFrames; ++f) {
        k.curtain = f;
        k.slide_x = -c.screen_width + c.screen_width * f / kOpenFrames;
        animation_frame(c, last);
    }
    k.slide_x = 0;
    k.curtain = kOpenFrames;
    make_labels(c);
    if (setting(c, Id::ShufflePassword) != 0) shuffle(c);
    c.log.printf("PasswordEntry");
    request_redraw(c);
}

void leave_keypad(Context& c, bool animate) {
    auto& k = c.keypad;
    if (in_keypad(c)) {
        c.log.printf("Keypad2Normal %d", int(animate));
        if (emergency(c)) {
            // A call this keypad placed is not left behind without its screen, and the service
            // must hear that the keypad is gone whichever way it went.
            if (k.DialingOwn && call_going(k)) hang_up(c);
            post_service(c, proto::WM_SlideDialing, 0, 0);
            kill(c, kTimerEmergencyTime);
        }
        if (animate) {
            stop_anim(c);
            std::uint32_t last = frame_clock(c).now_ms() - 50;
            for (int f = 1; f <= kOpenFrames; ++f) {
                k.slide_x = -c.screen_width * f / kOpenFrames;
                k.curtain = kOpenFrames - f;
                animation_frame(c, last);
            }
        }
        unload_keypad(c);
        clear_entry(k);
        k.DialText.clear();
        k.status.clear();
        k.StatusShown = k.status_until_touch = k.WrongShown = false;
        k.EmergencyCallPhase = kPhaseIdle;
        k.DialingOwn = k.HangUpAsked = false;
        k.slide_x = k.slide_y = k.curtain = 0;
        k.code_entered = false;
        c.state = ScreenState::Normal;
        // The big clock stood still under the keypad.
        update_clock(c);
        reset_slider(c);
    }
    c.slider.slide_locked = false;
    request_redraw(c);
}

void on_emergency_message(Context& c, std::uint32_t msg, WParam, LParam) {
    auto& k = c.keypad;
    if (!emergency(c)) return;
    switch (msg) {
        case proto::WM_DialingChanged:
            c.log.printf("EC Dialing %d", int(k.EmergencyCallPhase));
            if (k.EmergencyCallPhase != kPhaseIdle) return;
            k.EmergencyCallPhase = kPhaseDialing;
            k.status_until_touch = false;
            update_hang_up(c, true);
            set_status(c, status_of(c, u"s_Calling=", u"calling", true));
            arm(c, kTimerRepeatLock, 200);
            c.repeat_count = 0;
            request_redraw(c);
            return;
        case proto::WM_TalkingChanged:
            c.log.printf("EC Talking %d", int(k.EmergencyCallPhase));
            if (k.EmergencyCallPhase != kPhaseDialing) update_hang_up(c, true);
            k.EmergencyCallPhase = kPhaseConnected;
            k.status_until_touch = false;
            set_status(c, status_of(c, u"s_Connected=", u"connected"));
            arm(c, kTimerEmergencyTime, 1000);
            arm(c, kTimerRepeatLock, 200);
            c.repeat_count = 0;
            return;
        case proto::WM_CallEnded:
            c.log.printf("EC Ended %d", int(k.CallSeconds));
            k.EmergencyCallPhase = kPhaseIdle;
            k.DialingOwn = k.HangUpAsked = false;
            k.after_ticks = 0;
            // The time of a call that connected stays a few seconds; one that never did goes.
            if (k.CallSeconds == 0) {
                kill(c, kTimerEmergencyTime);
                drop_status(c);
            }
            update_hang_up(c, false);
            set_all_timer(c);
            return;
        case proto::WM_CallBusy:
            set_status(c, status_of(c, u"s_Busy=", u"busy"));
            return;
        default: return;
    }
}

void keypad_timer(Context& c, std::uint32_t id) {
    auto& k = c.keypad;
    if (id != kTimerEmergencyTime) return;
    if (!emergency(c)) {
        kill(c, id);
        return;
    }
    if (k.EmergencyCallPhase == kPhaseConnected) {
        ++k.CallSeconds;
        unsigned s = k.CallSeconds;
        char buf[24];
        if (s >= 3600) std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
        else std::snprintf(buf, sizeof buf, "%02u:%02u", s / 60, s % 60);
        set_status(c, u" - " + to_u16(buf));
        return;
    }
    if (++k.after_ticks >= 4) {
        kill(c, id);
        drop_status(c);
    }
}

bool keypad_touch(Context& c, std::uint32_t msg, int x, int y) {
    auto& k = c.keypad;
    if (!in_keypad(c)) return false;
    if (msg == WM_MOUSEMOVE) return true;
    const bool ec = emergency(c);
    if (msg == WM_LBUTTONDOWN) {
        reset_anim_lcd(c);
        if (ec) {
            if (k.status_until_touch) drop_status(c);
            if (k.EmergencyCallPhase == kPhaseIdle && k.StatusShown && !k.DialingOwn) {
                kill(c, kTimerEmergencyTime);
                drop_status(c);
            }
        }
        k.PressTick = now_ms(c);
        int i = key_at(c, x, y);
        bool hit = false;
        if (i >= 0) {
            k.PressedKey[std::size_t(i)] = hit = true;
        } else if (ec) {
            k.arrow_down = hit = arrow_box(c).contains(x, y) && !k.DialText.empty();
            if (bar_shown(c)) {
                k.call_down = call_box(c).contains(x, y);
                k.right_down = right_box(c).contains(x, y);
                hit = hit || k.call_down || k.right_down;
            }
        }
        if (hit) haptic_pulse(c);
        request_redraw(c);
        return true;
    }
    if (msg != WM_LBUTTONUP) return true;
    int pressed = -1;
    for (int i = 0; i < kKeypadKeys; ++i)
        if (k.PressedKey[std::size_t(i)]) pressed = i;
    bool arrow = k.arrow_down && arrow_box(c).contains(x, y);
    bool call = k.call_down && call_box(c).contains(x, y);
    bool right = k.right_down && right_box(c).contains(x, y);
    k.PressedKey.fill(false);
    k.arrow_down = k.call_down = k.right_down = false;
    bool held = now_ms(c) - k.PressTick > kLongPressMs;
    int i = key_at(c, x, y);
    if (i >= 0 && i == pressed) {
        c.log.printf("PW Released %d(%d, %d)", i, x, y);
        std::uint8_t v = key_value(c, i);
        if (ec) dial_key_pressed(c, v);
        else key_pressed(c, v);
    } else if (arrow) {
        dial_delete(c, held);
    } else if (call) {
        call_button(c);
    } else if (right) {
        if (call_going(k)) hang_up(c);
        else back_to_password(c);
    }
    request_redraw(c);
    return true;
}

bool keypad_key(Context& c, std::uint32_t msg, std::uint8_t vk) {
    auto& k = c.keypad;
    if (!in_keypad(c)) return false;
    if (msg == WM_KEYDOWN) {
        // A held key repeats its key-down: the hold counts from the first.
        if (k.key_down != vk) k.PressTick = now_ms(c);
        k.key_down = vk;
        reset_anim_lcd(c);
        return true;
    }
    c.log.printf("PW Released Key %0X", int(vk));
    const bool held = k.key_down == vk && now_ms(c) - k.PressTick > kLongPressMs;
    k.key_down = 0;
    int digit = vk >= '0' && vk <= '9' ? vk - '0' : vk >= 96 && vk <= 105 ? vk - 96 : -1;
    if (!emergency(c)) {
        std::uint8_t corner = entered_count(k) > 0 ? kKeyDelete : kKeyCancel;
        if (digit >= 0) key_pressed(c, std::uint8_t(digit));
        else if (vk == kVkBack || vk == kVkEnd) key_pressed(c, corner);
        else if (vk == kVkCancel || vk == kVkClear || vk == kVkEscape) key_pressed(c, kKeyCancel);
        else if (vk == kVkTalk) key_pressed(c, kKeyEmergency);
        request_redraw(c);
        return true;
    }
    if (digit >= 0) dial_key_pressed(c, std::uint8_t(digit));
    else if (vk == kVkStar) dial_key_pressed(c, kKeyEmergency);
    else if (vk == kVkHash) dial_key_pressed(c, kKeyCancel);
    else if (vk == kVkBack) dial_delete(c, held);
    else if (vk == kVkClear) dial_delete(c, true);
    else if (vk == kVkTalk) call_button(c);
    else if (vk == kVkEnd) {
        if (call_going(k)) hang_up(c);
        else back_to_password(c);
    } else if ((vk == kVkCancel || vk == kVkEscape) && !call_going(k)) {
        back_to_password(c);
    }
    request_redraw(c);
    return true;
}

void relayout_keypad(Context& c) {
    auto& k = c.keypad;
    if (!in_keypad(c)) return;
    render_header(c);
    layout(c);
    if (k.labels_made) {
        auto map = k.KeyMap;
        make_labels(c);
        k.KeyMap = map;
    }
    if (emergency(c)) {
        k.dial_font_start = header_height(c) + k.at.spacing;
        k.DialFontSize = k.dial_font_start;
        render_dial(c);
    }
    request_redraw(c);
}

void compose_keypad(Context& c) {
    auto& k = c.keypad;
    const int a = c.scene_alpha;
    // The lock screen behind, darkened, its panels as far gone as the curtain says.
    {
        int travel_top = unit(c, 16) + c.clock.height + unit(c, 60);
        int travel_bottom = c.screen_height - c.slider.bar_top;
        int top = c.top_offset, bottom = c.bottom_offset;
        c.top_offset = -travel_top * k.curtain / kOpenFrames;
        c.bottom_offset = travel_bottom * k.curtain / kOpenFrames;
        c.scene_alpha = std::min(a, 32 - (32 - kBehindAlpha) * k.curtain / kOpenFrames);
        auto state = c.state;
        c.state = ScreenState::Normal;
        compose_frame(c);
        c.state = state;
        c.top_offset = top;
        c.bottom_offset = bottom;
        c.scene_alpha = a;
    }
    const auto& at = k.at;
    const int dx = k.slide_x, dy = k.slide_y;
    const bool ec = emergency(c);
    if (k.WrongShown) {
        fill(c, c.red, at.side_x + dx, at.band_top, at.side_x + at.side_w + dx, at.band_bottom, std::min(a, k.FlashAlpha));
        k.FlashAlpha = std::min(kFlashMax, k.FlashAlpha + 2);
    }
    centred(c, k.labels[kLabelHeader], at.side_x + dx, at.header_y + dy, at.side_w, header_height(c), a);
    if (!ec) {
        for (int i = 0; i < kCodeLength; ++i) {
            int x = at.boxes_x + i * (at.box_w + at.box_gap) + dx;
            if (!k.box.empty()) {
                gfx::DrawImage(k.box, c.screen, x, at.boxes_y, 0, 0, 0, gfx::kCopy, a);
            } else {
                gfx::Brush grey = gfx::MakeBrush(gfx::RGBTo565(c.screen.format, 200, 200, 200));
                fill(c, grey, x, at.boxes_y, x + at.box_w, at.boxes_y + at.box_h, std::min(a, 12));
            }
            if (k.EnteredDigits[std::size_t(i)] != 0) centred(c, k.mark, x, at.boxes_y, at.box_w, at.box_h, a);
        }
    } else {
        const auto& dial = k.labels[kLabelDial];
        if (!dial.empty()) {
            // Too long even in the smallest font: the end of the number, just typed, stays seen.
            int room = at.arrow_x - at.side_x - unit(c, 6);
            int x = at.side_x + (dial.width > room - unit(c, 4) ? room - dial.width : (room - dial.width) / 2);
            gfx::DrawImage(dial, c.screen, x + dx, (at.dial_top + at.dial_bottom - dial.height) / 2 + dy, 0, 0, 0,
                           gfx::kColourKey, a);
        }
        if (!k.DialText.empty() && !k.arrow.empty()) {
            if (k.arrow_down) fill(c, c.blue, at.arrow_x - unit(c, 4) + dx, at.arrow_y - unit(c, 4) + dy,
                                   at.arrow_x + k.arrow.width + unit(c, 4) + dx, at.arrow_y + k.arrow.height + unit(c, 4) + dy,
                                   std::min(a, 16));
            gfx::DrawImage(k.arrow, c.screen, at.arrow_x + dx, at.arrow_y + dy, 0, 0, 0, gfx::kColourKey, a);
        }
    }
    draw_keys(c, dx, dy, a);
    if (bar_shown(c)) draw_bar(c, dy, a);
}

}  // namespace lumo::lockscreen
