// The pop-up views over the lock screen: the active reminder, the newest message, the missed
// calls and the task list. Each builds its box once when it opens; leaving a view does what
// leaving means for its item; after the unlock the pending item is opened.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using catalogue::Id;
using platform::Root;
namespace proto = protocol;

namespace {

constexpr std::u16string_view kRemindersKey = u"System\\State\\Shell\\Reminders";
constexpr std::u16string_view kShellNotifications = u"System\\State\\Shell\\Notifications\\";
constexpr std::u16string_view kReminderClass = u"{15F11F90-8A5F-454C-89FC-BA9B7AAB0CAD}";
constexpr std::u16string_view kMessageClasses[3] = {u"{A877D65B-239C-47a7-9304-0D347F580408}",
                                                    u"{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}",
                                                    u"{A877D65A-239C-47a7-9304-0D347F580408}"};
constexpr std::uint32_t kDismissReminderCommand = 0x200B;
constexpr std::uint32_t kOpenCallHistory = 32794;
// The store's "no date" for tasks without a due date.
constexpr std::uint32_t kNoDateHigh = 0x0CB34557, kNoDateLow = 0xA3DD4000;
constexpr int kMaxEntries = 5;

constexpr std::uint32_t kCentredWrap = gfx::kTextWordEllipsis | gfx::kTextWordBreak | gfx::kTextCenter;
constexpr std::uint32_t kLeftWrap = gfx::kTextWordEllipsis | gfx::kTextWordBreak;
constexpr std::uint32_t kOneLine = gfx::kTextWordEllipsis | gfx::kTextSingleLine;
constexpr std::uint32_t kOneLineRight = gfx::kTextWordEllipsis | gfx::kTextRight;

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }
int font_height(const Context& c) { return unit(c, 12 + 2 * int(c.settings.num(Id::TextSize))); }
bool setting_on(const Context& c, Id id) { return c.settings.num(id) != 0; }

std::u16string text_or(const Context& c, std::u16string_view key, std::u16string_view fallback) {
    auto t = c.texts.get(key);
    return t.empty() ? std::u16string(fallback) : t;
}

void clear(gfx::Image& img) {
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
}

std::optional<std::uint64_t> read_file_time(Context& c, std::u16string_view key, std::u16string_view name) {
    auto v = c.p.registry().get_binary(Root::CurrentUser, key, name);
    if (!v || v->size() != 8) return std::nullopt;
    std::uint64_t ft;
    std::memcpy(&ft, v->data(), 8);
    return ft;
}

std::u16string date_text(const Context& c, const platform::LocalTime& t) {
    auto f = c.settings.text(Id::AppointmentDateFormat);
    if (f.empty()) f = c.system_locale.short_date;
    return format_datetime(f, t, c.system_locale);
}

std::u16string time_text(const Context& c, const platform::LocalTime& t) {
    auto f = c.settings.text(Id::AppointmentTimeFormat);
    if (f.empty()) f = u"h':'mmt";
    return format_datetime(f, t, c.system_locale);
}

// Text rendered white on the key colour, `width` wide, cut to `max_lines` lines: a text that
// needs more ends with "..." on the last line kept. Returns the lines drawn.
int render_lines(Context& c, gfx::Image& img, platform::Font& font, std::u16string_view text, std::uint32_t format,
                 int width, int max_lines, std::u16string* shown = nullptr) {
    clear(img);
    const int lh = std::max(1, font.line_height());
    auto draw = [&](std::u16string_view t) {
        gfx::RenderTextWithFont(img, c.screen, font, 0xFFFFFF, t, format, width, 0, 0, 0, false, 0);
        return img.height / lh;
    };
    if (shown) *shown = text;
    if (text.empty()) return 0;
    int lines = draw(text);
    if (lines <= max_lines || max_lines <= 0) return lines;
    // The longest beginning that still fits with its ellipsis, cut at a word where one is near.
    std::size_t lo = 0, hi = text.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi + 1) / 2;
        if (draw(std::u16string(text.substr(0, mid)) + u"...") <= max_lines) lo = mid;
        else hi = mid - 1;
    }
    std::size_t cut = lo;
    auto space = text.substr(0, lo).find_last_of(u" \n");
    if (space != std::u16string_view::npos && lo - space < 16) cut = space;
    while (cut > 0 && (text[cut - 1] == u' ' || text[cut - 1] == u'\n' || text[cut - 1] == u'\r')) --cut;
    if (shown) *shown = std::u16string(text.substr(0, cut)) + u"...";
    return draw(std::u16string(text.substr(0, cut)) + u"...");
}

bool is_view(ScreenState s) {
    return s == ScreenState::NotificationView || s == ScreenState::MessageView || s == ScreenState::MissedCallView ||
           s == ScreenState::TaskView;
}

int box_width(Context& c, const gfx::Image& base) { return base.empty() ? unit(c, 220) : base.width; }
int inner_width(Context& c, const gfx::Image& base) { return box_width(c, base) - unit(c, 16); }

// The tallest box that still ends above the slider bar with the screen's top clear.
int max_box_height(const Context& c) { return c.screen_height - unit(c, 60) - unit(c, 4); }

// "ptbox.png" stretched to `height`: its top half, its middle row repeated, its bottom half.
void build_box(Context& c, const gfx::Image& base, int height) {
    auto& box = c.views.box;
    clear(box);
    if (base.empty()) {
        gfx::FillImage(box, c.screen, unit(c, 220), std::max(height, 1), 0x20, true, 28);
        return;
    }
    int h = std::max(height, base.height);
    if (!gfx::ResizeBuffers(box, base.width, h, base.has_alpha())) return;
    int top = base.height / 2, bottom = base.height - top, middle = h - base.height;
    auto copy_row = [&](int from, int to) {
        std::memcpy(box.row(to), base.row(from), std::size_t(base.width) * 2);
        if (base.has_alpha()) std::memcpy(box.alpha_row(to), base.alpha_row(from), std::size_t(base.width));
    };
    for (int y = 0; y < top; ++y) copy_row(y, y);
    for (int y = 0; y < middle; ++y) copy_row(top, top + y);
    for (int y = 0; y < bottom; ++y) copy_row(top + y, top + middle + y);
}

void compose(Context& c, const gfx::Image& img, int x, int y) {
    if (!img.empty()) gfx::ComposeImage(c.views.box, c.screen, img, x, y, 0, 0, 0, 0, gfx::kColourKey, 32);
}

// The box's place: centred, moved up to end above the slider bar.
void place_box(Context& c) {
    auto& v = c.views;
    v.box_x = (c.screen_width - v.box.width) / 2;
    v.box_y = (c.screen_height - v.box.height) / 2;
    int bar_top = c.screen_height - unit(c, 60);
    if (v.box_y + v.box.height > bar_top) v.box_y = bar_top - v.box.height;
    v.box_y = std::max(v.box_y, 0);
}

// The hint line at the box's bottom; none with Slide2Dismiss.
int render_hint(Context& c, gfx::Image& img, platform::Font& font, int width, bool dismiss) {
    clear(img);
    c.views.hint.clear();
    if (setting_on(c, Id::Slide2Dismiss)) return 0;
    c.views.hint = dismiss ? text_or(c, u"s_DismissHints=", u"tap here to dismiss.")
                           : text_or(c, u"s_CancelHints=", u"tap here to cancel.");
    render_lines(c, img, font, c.views.hint, gfx::kTextWordBreak | gfx::kTextCenter, width, 3);
    return img.height;
}

void finish_hint(Context& c, const gfx::Image& hint) {
    if (!hint.empty()) compose(c, hint, unit(c, 8), c.views.box.height - hint.height - unit(c, 10));
}

void reset_view_texts(ViewsState& v) {
    v.title.clear();
    v.sender.clear();
    v.time_line.clear();
    v.body.clear();
    v.account.clear();
    v.hint.clear();
    v.has_picture = false;
    v.task_lines.clear();
    v.task_bold.clear();
    v.missed.clear();
    v.more = false;
    v.text_lines = 0;
}

// What opening a view shares: its state, the screen-off timers again, the box in place.
void show_view(Context& c, ScreenState state) {
    c.state = state;
    c.views.box_state = state;
    c.views.box_alpha = 0;
    place_box(c);
    set_off_lcd(c, c.settings.num(Id::OffLCD), c.settings.num(Id::ACOffLCD));
    request_redraw(c);
}

void view_slider(Context& c) {
    set_slider_texts(c, setting_on(c, Id::Slide2Dismiss) ? SliderTexts::DismissView : SliderTexts::View);
}

// A contact picture as a square of `size`, cut from the middle of its long side.
bool load_square_picture(Context& c, gfx::Image& out, std::u16string_view key, int kind, int size) {
    clear(out);
    if (!c.contacts || key.empty() || size <= 0) return false;
    auto bytes = c.contacts->picture(key, kind);
    if (!bytes || bytes->empty()) return false;
    gfx::Image full, scaled;
    if (!gfx::LoadImageMemory(full, c.screen, *bytes, false, gfx::kFitNative, 0, 0) || full.empty()) return false;
    int w = size, h = size;
    if (full.height * size / std::max(1, full.width) >= size) h = std::max(size, full.height * size / std::max(1, full.width));
    else w = std::max(size, full.width * size / std::max(1, full.height));
    if (!gfx::ResizeImage(scaled, c.screen, full, w, h, true, false)) return false;
    return gfx::CropImage(out, scaled, size, size, (w - size) / 2, (h - size) / 2, 0);
}

// Picture files of the theme at the picture size.
void load_theme_picture(Context& c, gfx::Image& out, std::u16string_view file, int size) {
    clear(out);
    gfx::LoadImageFile(out, c.screen, gfx_path(c, file), gfx::kFitThumbnail, size, size);
}

// The notification number the shell published first under a class; 0 when none.
std::uint32_t first_notification(Context& c, std::u16string_view class_id) {
    auto& reg = c.p.registry();
    auto key = reg.open_key(Root::LocalMachine, std::u16string(kShellNotifications) + std::u16string(class_id));
    if (!key) return 0;
    auto first = reg.enum_value(*key, 0);
    if (!first) return 0;
    std::uint32_t n = 0;
    for (char16_t ch : first->first) {
        if (ch < u'0' || ch > u'9') return 0;
        n = n * 10 + std::uint32_t(ch - u'0');
    }
    return n;
}

void remove_message_notification(Context& c, int kind) {
    if (kind < 0 || kind > 2) return;
    std::uint32_t n = first_notification(c, kMessageClasses[kind]);
    c.log.printf("Remove Notification %d(%0X)", int(n), n);
    if (n != 0) c.p.notify().remove_shell_notification(kMessageClasses[kind], n);
}

// What leaving does for the item of the view that is closing.
void leave_item(Context& c) {
    auto& win = c.p.windows();
    switch (c.state) {
        case ScreenState::NotificationView:
            if (setting_on(c, Id::AutoDismissNotification))
                if (auto shell = win.find_window(u"WinCENotify", std::u16string_view(u"WinCENotify")))
                    win.post(shell, platform::WM_COMMAND, kDismissReminderCommand, 0xF000);
            break;
        case ScreenState::MessageView: {
            bool marked = false;
            if (c.message_kind == 0 && setting_on(c, Id::AutoMarkReadSMS)) {
                post_service(c, proto::WM_MarkReadMessage, WParam(proto::MessageKind::Sms), 0);
                marked = true;
            } else if (c.message_kind == 2 && setting_on(c, Id::AutoMarkReadEmail)) {
                post_service(c, proto::WM_MarkReadMessage, WParam(proto::MessageKind::Email), 0);
                marked = true;
            }
            if (marked || setting_on(c, Id::AutoDismissNotification)) remove_message_notification(c, c.message_kind);
            break;
        }
        case ScreenState::MissedCallView:
            c.p.registry().set_dword(Root::CurrentUser, u"System\\State\\Phone", u"Missed Call Count", 0);
            break;
        default: break;
    }
}

// The music player's window, when it is up.
platform::Hwnd music_window(Context& c) { return c.p.windows().find_window(u"Zorp", std::nullopt); }

bool start_program(Context& c, std::u16string_view file, std::u16string_view arguments) {
    bool ok = c.p.processes().shell_execute(file, arguments, true).has_value();
    c.log.printf("Run %s %s: %d", platform::to_utf8(file).c_str(), platform::to_utf8(arguments).c_str(), int(ok));
    return ok;
}

int slot_of_pending(const Context& c) {
    switch (c.pending_action) {
        case 11: return 7;
        case 12: return 2 + std::min<int>(c.message_kind, 2);
        case 14: return 0;
        case 15: return 1;
        case 16: return 5;
        case 17: return 6;
        case 18: return 8;
        default: return -1;
    }
}

}  // namespace

void open_reminder_view(Context& c) {
    auto& v = c.views;
    auto& reg = c.p.registry();
    c.log.printf("Nt loading gfx");
    reset_view_texts(v);
    auto active = reg.get_string(Root::CurrentUser, kRemindersKey, u"Active").value_or(u"");
    v.reminder_name = active;
    std::u16string key = std::u16string(kRemindersKey) + u"\\" + active;
    std::u16string time, location, description;
    if (!active.empty()) {
        time = reg.get_string(Root::CurrentUser, key, u"Time").value_or(u"");
        // The phone may publish the reminder's time as a file time rather than a text.
        if (time.empty())
            if (auto ft = read_file_time(c, key, u"Time")) {
                auto t = platform::file_time_to_local(*ft);
                time = date_text(c, t) + u" " + time_text(c, t);
            }
        location = reg.get_string(Root::CurrentUser, key, u"Location").value_or(u"");
        description = reg.get_string(Root::CurrentUser, key, u"Description").value_or(u"");
    }
    v.title = time.empty() ? location : (location.empty() ? time : time + u"\r\n(" + location + u")");
    v.body = description;
    gfx::Image base, title, body, hint;
    gfx::LoadImageFile(base, c.screen, gfx_path(c, u"ptbox.png"), gfx::kFitNative, 0, 0);
    int inner = inner_width(c, base);
    auto font = gfx::CreateTextFont(c.screen, font_height(c), gfx::kFontNormal);
    int hh = 0;
    if (font) {
        hh = render_hint(c, hint, *font, inner, setting_on(c, Id::AutoDismissNotification));
        // Each at most 10 lines, and no more than the screen has room for.
        int lh = std::max(1, font->line_height());
        int room = (max_box_height(c) - unit(c, 30) - (hh ? hh + unit(c, 8) : 0)) / lh;
        render_lines(c, title, *font, std::u16string(v.title), kCentredWrap, inner, std::clamp(room / 2, 1, 10),
                     &v.title);
        room -= title.height / lh;
        v.text_lines = render_lines(c, body, *font, description, kLeftWrap, inner, std::clamp(room, 1, 10), &v.body);
    }
    int height = title.height + body.height + unit(c, 30) + (hh ? hh + unit(c, 8) : 0);
    build_box(c, base, std::min(height, std::max(base.height, max_box_height(c))));
    compose(c, title, unit(c, 8), unit(c, 10));
    compose(c, body, unit(c, 8), unit(c, 18) + title.height);
    finish_hint(c, hint);
    c.pending_action = 11;
    show_view(c, ScreenState::NotificationView);
    view_slider(c);
}

void open_message_view(Context& c) {
    auto& v = c.views;
    auto& reg = c.p.registry();
    int kind = std::min<int>(c.message_kind, 2);
    c.log.printf("Message loading gfx %d", kind);
    std::u16string_view keys[3] = {proto::kSmsKey, proto::kMmsKey, proto::kMessageKey};
    std::u16string_view key = keys[kind];
    auto subject = reg.get_string(Root::CurrentUser, key, u"Subject");
    auto sender = reg.get_string(Root::CurrentUser, key, u"Sender");
    if (!subject || !sender) {
        c.log.printf("Message: nothing to show");
        return;
    }
    reset_view_texts(v);
    v.sender = *sender;
    v.body = *subject;
    std::u16string email;
    if (kind == 2) {
        v.account = reg.get_string(Root::CurrentUser, key, proto::mailbox::kAccount).value_or(u"");
        email = reg.get_string(Root::CurrentUser, key, u"Email").value_or(u"");
    }
    if (auto ft = read_file_time(c, key, u"Time")) {
        auto t = platform::file_time_to_local(*ft);
        auto f = c.settings.text(Id::DateFormat);
        v.time_line = format_datetime(f, t, c.system_locale) + u" " + time_text(c, t);
    }
    c.log.printf("Msg %s(%s)", platform::to_utf8(v.sender).c_str(), platform::to_utf8(v.time_line).c_str());
    gfx::Image base, picture, h1, h2, h3, h4, hint;
    gfx::LoadImageFile(base, c.screen, gfx_path(c, u"ptbox.png"), gfx::kFitNative, 0, 0);
    int inner = inner_width(c, base);
    int fh = font_height(c);
    int pic = 2 * fh + unit(c, 8);
    v.has_picture = kind == 2 ? load_square_picture(c, picture, email, 2, pic)
                              : load_square_picture(c, picture, v.sender, 4, pic);
    auto regular = gfx::CreateTextFont(c.screen, fh, gfx::kFontNormal);
    auto bold = gfx::CreateTextFont(c.screen, fh, gfx::kFontBold);
    int hh = 0;
    if (regular && bold) {
        bool dismiss = kind == 2 ? setting_on(c, Id::AutoMarkReadEmail)
                                 : kind == 0 && setting_on(c, Id::AutoMarkReadSMS);
        hh = render_hint(c, hint, *regular, inner, dismiss);
        if (v.has_picture) {
            render_lines(c, h1, *bold, v.sender, kOneLine, inner - pic - unit(c, 6), 1);
            render_lines(c, h2, *regular, v.time_line, kOneLine, inner - pic - unit(c, 6), 1);
        } else {
            render_lines(c, h1, *bold, v.sender, kOneLine | gfx::kTextCenter, inner, 1);
            render_lines(c, h2, *regular, v.time_line, kOneLine | gfx::kTextCenter, inner, 1);
        }
        // The text gets what room the screen leaves, up to 20 lines.
        int fixed = h1.height + h2.height + unit(c, 46) + fh + (hh ? hh + unit(c, 8) : 0);
        int room = (max_box_height(c) - fixed) / std::max(1, regular->line_height());
        v.text_lines = render_lines(c, h3, *regular, *subject, kLeftWrap, inner, std::clamp(room, 1, 20), &v.body);
        if (kind == 2 && !v.account.empty()) render_lines(c, h4, *bold, v.account, kOneLineRight, inner, 1);
    }
    int height = h1.height + h2.height + h3.height + h4.height + unit(c, h4.empty() ? 40 : 46) +
                 (hh ? hh + unit(c, 8) : 0);
    c.log.printf("h1=%d h2=%d h3=%d h4=%d", h1.height, h2.height, h3.height, h4.height);
    build_box(c, base, height);
    int x = unit(c, 8), y = unit(c, 10);
    compose(c, h1, x, y);
    if (v.has_picture) compose(c, picture, x + h1.width + unit(c, 3), y);
    int ty = y + h1.height + unit(c, 8);
    compose(c, h2, x, ty);
    int by = ty + h2.height + unit(c, 8);
    compose(c, h3, x, by);
    compose(c, h4, x, by + h3.height + unit(c, 8));
    finish_hint(c, hint);
    c.pending_action = 12;
    show_view(c, ScreenState::MessageView);
    view_slider(c);
}

void open_task_view(Context& c) {
    auto& v = c.views;
    auto& reg = c.p.registry();
    c.log.printf("Task loading gfx");
    std::uint32_t count = reg.get_dword(Root::CurrentUser, proto::kTasksKey, u"TaskCount").value_or(0);
    if (count == 0) return;
    reset_view_texts(v);
    int shown = int(std::min<std::uint32_t>(count, kMaxEntries));
    v.more = count > kMaxEntries || v.counts[8] > kMaxEntries;
    for (int i = 1; i <= shown; ++i) {
        std::u16string key = std::u16string(proto::kTasksKey) + u"\\" + platform::to_u16(std::to_string(i));
        auto subject = reg.get_string(Root::CurrentUser, key, u"Subject").value_or(u"");
        auto due = read_file_time(c, key, u"DueDate");
        bool no_date = !due || std::uint32_t(*due >> 32) == kNoDateHigh || std::uint32_t(*due) == kNoDateLow;
        v.task_lines.push_back(no_date ? subject
                                       : date_text(c, platform::file_time_to_local(*due)) + u": " + subject);
        v.task_bold.push_back(reg.get_dword(Root::CurrentUser, key, u"Importance").value_or(1) == 2);
    }
    gfx::Image base, hint;
    gfx::LoadImageFile(base, c.screen, gfx_path(c, u"ptbox.png"), gfx::kFitNative, 0, 0);
    int inner = inner_width(c, base);
    int fh = font_height(c);
    auto regular = gfx::CreateTextFont(c.screen, fh, gfx::kFontNormal);
    auto bold = gfx::CreateTextFont(c.screen, fh, gfx::kFontBold);
    std::vector<gfx::Image> lines(v.task_lines.size());
    gfx::Image dots;
    int hh = 0;
    if (regular && bold) {
        hh = render_hint(c, hint, *regular, inner, false);
        for (std::size_t i = 0; i < lines.size(); ++i)
            render_lines(c, lines[i], v.task_bold[i] ? *bold : *regular, v.task_lines[i], kOneLine, inner, 1);
        if (v.more) render_lines(c, dots, *regular, u"...", kOneLine, inner, 1);
    }
    int height = (fh + unit(c, 5)) * shown + unit(c, 20) + (hh ? hh + unit(c, 8) : 0) + (v.more ? fh : 0);
    build_box(c, base, height);
    int y = unit(c, 10);
    for (auto& line : lines) {
        compose(c, line, unit(c, 8), y);
        y += fh + unit(c, 5);
    }
    if (v.more) compose(c, dots, unit(c, 8), y - unit(c, 2));
    finish_hint(c, hint);
    show_view(c, ScreenState::TaskView);
}

void open_missed_call_view(Context& c) {
    auto& v = c.views;
    std::uint32_t count = v.counts[0];
    c.log.printf("MissedCall loading gfx %d", int(count));
    // Enough of the log to find the newest missed calls among the others.
    auto log = c.p.call_log().newest(200);
    if (!log) {
        c.log.printf("MissedCall loading %d", -1);
        return;
    }
    c.log.printf("MissedCall loading gfx 1");
    reset_view_texts(v);
    std::size_t wanted = count == 0 ? kMaxEntries : std::min<std::size_t>(count, kMaxEntries);
    v.more = count > kMaxEntries;
    gfx::Image base, hint;
    gfx::LoadImageFile(base, c.screen, gfx_path(c, u"ptbox.png"), gfx::kFitNative, 0, 0);
    int inner = inner_width(c, base);
    int fh = font_height(c);
    int pic = 2 * fh + unit(c, 8);
    auto now = c.p.clock().local_time();
    auto day_number = [](const platform::LocalTime& t) {
        platform::LocalTime midnight;
        midnight.year = t.year;
        midnight.month = t.month;
        midnight.day = t.day;
        return std::int64_t(std::floor(platform::variant_from_local(midnight)));
    };
    std::int64_t today = day_number(now);
    struct Entry {
        gfx::Image picture, name, time;
    };
    std::vector<Entry> entries;
    auto regular = gfx::CreateTextFont(c.screen, fh, gfx::kFontNormal);
    auto bold = gfx::CreateTextFont(c.screen, fh, gfx::kFontBold);
    int hh = 0;
    if (regular) hh = render_hint(c, hint, *regular, inner, true);
    // A small screen shows fewer entries, and "..." for the rest.
    int step = pic + unit(c, 6) + 1;
    int room = (max_box_height(c) - unit(c, 14) - fh - (hh ? hh + unit(c, 8) : 0)) / step;
    if (std::size_t(std::max(room, 1)) < wanted) {
        wanted = std::size_t(std::max(room, 1));
        v.more = true;
    }
    c.log.printf("MissedCall loading gfx 2");
    for (const auto& call : *log) {
        if (entries.size() >= wanted) break;
        if (!platform::call_log_missed(call.flags)) continue;
        MissedCallLine line;
        auto t = platform::file_time_to_local(call.time);
        std::int64_t day = day_number(t);
        line.time = day == today         ? time_text(c, t)
                    : day == today - 1 ? text_or(c, u"s_Yesterday=", u"Yesterday")
                                       : date_text(c, t);
        Entry e;
        if (!call.number.empty()) {
            line.picture_found = !call.name.empty() ? load_square_picture(c, e.picture, call.name, 4, pic)
                                                    : load_square_picture(c, e.picture, call.number, 1, pic);
            if (!line.picture_found) load_theme_picture(c, e.picture, u"nopic.png", pic);
            line.name = call.name.empty() ? call.number
                        : call.number_label.empty() ? call.name
                                                     : call.name + u" " + call.number_label;
        } else {
            load_theme_picture(c, e.picture, u"unknown.png", pic);
            line.name = call.name.empty() ? text_or(c, u"s_Unknown=", u"unknown") : call.name;
        }
        if (regular && bold) {
            render_lines(c, e.name, *bold, line.name, kOneLine, inner - pic - unit(c, 6), 1);
            render_lines(c, e.time, *regular, line.time, kOneLine, inner - pic - unit(c, 6), 1);
        }
        v.missed.push_back(line);
        entries.push_back(std::move(e));
    }
    c.log.printf("MissedCall loading gfx 3");
    if (entries.empty()) {
        c.log.printf("MissedCall loading gfx End %d", 0);
        return;
    }
    gfx::Image dots;
    if (regular && v.more) render_lines(c, dots, *regular, u"...", kOneLine | gfx::kTextCenter, inner, 1);
    int height = unit(c, 10) + step * int(entries.size()) + (v.more ? fh : 0) + unit(c, 4) +
                 (hh ? hh + unit(c, 8) : 0);
    build_box(c, base, height);
    int y = unit(c, 10), x = unit(c, 8);
    for (auto& e : entries) {
        compose(c, e.picture, x, y);
        int tx = x + pic + unit(c, 6);
        int text_h = e.name.height + unit(c, 1) + e.time.height;
        int ty = y + std::max(0, (pic - text_h) / 2);
        compose(c, e.name, tx, ty);
        compose(c, e.time, tx, ty + e.name.height + unit(c, 1));
        y += step;
    }
    if (v.more) compose(c, dots, x, y);
    finish_hint(c, hint);
    c.log.printf("MissedCall loading gfx End %d", int(entries.size()));
    show_view(c, ScreenState::MissedCallView);
}

void close_views(Context& c, bool leaving) {
    auto& win = c.p.windows();
    auto& v = c.views;
    switch (c.state) {
        case ScreenState::BusySmsPrompt:
        case ScreenState::BusySmsPromptOverApp:
            win.kill_timer(c.main_window, kTimerBusySmsEnd);
            c.log.printf("Msg2Normal %d", int(c.state));
            break;
        case ScreenState::NotificationView:
            c.log.printf("Notify2Normal %d", int(c.state));
            win.kill_timer(c.main_window, kTimerNotifyView);
            win.kill_timer(c.main_window, kTimerNotifyLeave);
            c.log.printf("Nt Unloading gfx");
            break;
        case ScreenState::MessageView:
            c.log.printf("Msg2Normal %d", int(c.state));
            win.kill_timer(c.main_window, kTimerMessageView);
            c.log.printf("Msg Unloading gfx");
            break;
        case ScreenState::TaskView:
            c.log.printf("Msg2Normal %d", int(c.state));
            c.log.printf("Task Unloading gfx");
            break;
        case ScreenState::MissedCallView:
            c.log.printf("Msg2Normal %d", int(c.state));
            c.log.printf("MissedCall Unloading gfx");
            break;
        default: return;
    }
    if (leaving) leave_item(c);
    c.state = ScreenState::Normal;
    c.pending_action = 0;
    v.reminder_name.clear();
    // The box fades out over the next frames; with nothing more to draw it goes at once.
    if (c.screen.suspended) clear(v.box);
    if (c.slider_texts != SliderTexts::Lock) set_slider_texts(c, SliderTexts::Lock);
    request_redraw(c);
}

void relayout_view(Context& c) {
    auto& v = c.views;
    if (!is_view(c.state)) {
        clear(v.box);
        return;
    }
    // The box is built for the screen's shape: a turned screen gets it built again, shown at once.
    auto pending = c.pending_action;
    auto texts = c.slider_texts;
    switch (c.state) {
        case ScreenState::NotificationView: open_reminder_view(c); break;
        case ScreenState::MessageView: open_message_view(c); break;
        case ScreenState::MissedCallView: open_missed_call_view(c); break;
        case ScreenState::TaskView: open_task_view(c); break;
        default: break;
    }
    c.pending_action = pending;
    if (c.slider_texts != texts) set_slider_texts(c, texts);
    v.box_alpha = 32;
}

void draw_view_box(Context& c) {
    auto& v = c.views;
    if (v.box.empty()) return;
    if (is_view(c.state) && c.state == v.box_state) v.box_alpha = std::min(32, v.box_alpha + 6);
    else v.box_alpha = std::max(0, v.box_alpha - 6);
    if (v.box_alpha == 0) {
        if (!is_view(c.state)) clear(v.box);
        return;
    }
    gfx::DrawImage(v.box, c.screen, v.box_x, v.box_y, 0, 0, 0, gfx::kCopy, std::min(v.box_alpha, c.scene_alpha));
}

void open_pending_action(Context& c) {
    auto& reg = c.p.registry();
    auto& win = c.p.windows();
    int slot = slot_of_pending(c);
    c.log.printf("open pending %d(%d)", int(c.pending_action), slot);
    if (slot < 0) return;
    // The user's own program for the slot comes first.
    std::u16string file, parameters;
    {
        auto n = platform::to_u16(std::to_string(slot));
        file = reg.get_string(Root::CurrentUser, proto::kS2VExeKey, n + u"File").value_or(u"");
        parameters = reg.get_string(Root::CurrentUser, proto::kS2VExeKey, n + u"Parameters").value_or(u"");
    }
    if (!file.empty()) {
        start_program(c, file, parameters);
        return;
    }
    switch (c.pending_action) {
        case 11: {
            if (auto music = music_window(c)) win.show_window(music, platform::SW_MINIMIZE);
            std::uint32_t n = first_notification(c, kReminderClass);
            c.log.printf("Refresh Notification a=%d", int(n));
            if (n != 0) {
                bool ok = c.p.notify().show_shell_notification(kReminderClass, n);
                c.log.printf("Refresh Notification %d(%0X) o=%0X", int(n), n, unsigned(ok));
            }
            return;
        }
        case 12: {
            int kind = std::min<int>(c.message_kind, 2);
            if (c.views.counts[2 + kind] == 0) return;
            if (setting_on(c, Id::LockNotification)) {
                post_service(c, proto::WM_OpenMessage, WParam(2 + kind), 0);
            } else {
                std::u16string service = kind == 0 ? u"SMS" : kind == 1 ? u"MMS"
                    : reg.get_string(Root::CurrentUser, u"System\\State\\Messages", u"Last Received Account").value_or(u"");
                start_program(c, u"tmail.exe", u"-service \"" + service + u"\" -open \"inbox\"");
            }
            remove_message_notification(c, kind);
            return;
        }
        case 14:
            if (auto phone = win.find_window(u"MSCprog", std::nullopt)) win.post(phone, kOpenCallHistory, 0, 0);
            return;
        case 15: start_program(c, u"cprog.exe", u""); return;
        case 16:
            if (auto dir = reg.get_string(Root::LocalMachine, u"Software\\Apps\\WebIS FlexMail 4", u"InstallDir"))
                start_program(c, *dir + u"\\flexmail.exe", u"");
            return;
        case 17:
            if (auto app = reg.get_string(Root::LocalMachine, u"Services\\Windows Live\\Paths", u"AppLauncher"))
                start_program(c, *app, u"");
            return;
        case 18: start_program(c, u"tasks.exe", u""); return;
        default: return;
    }
}

}  // namespace lumo::lockscreen
