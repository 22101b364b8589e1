#include "lumo/platform/winuser.h"

#include <algorithm>
#include <array>

namespace lumo::platform {
namespace {

// The buttons of each message-box kind, in order, and the answer closing the box gives.
struct ButtonSet {
    std::uint32_t kind;
    std::array<int, 3> buttons;
    std::size_t count;
    int cancel;
};
constexpr std::array kButtonSets{
    ButtonSet{MB_OK, {IDOK}, 1, IDOK},
    ButtonSet{MB_OKCANCEL, {IDOK, IDCANCEL}, 2, IDCANCEL},
    ButtonSet{MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, 3, IDCANCEL},
    ButtonSet{MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, 3, IDCANCEL},
    ButtonSet{MB_YESNO, {IDYES, IDNO}, 2, IDNO},
    ButtonSet{MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, 2, IDCANCEL},
};

const ButtonSet& buttons_of(std::uint32_t flags) {
    for (auto& set : kButtonSets)
        if (set.kind == (flags & 0xF)) return set;
    return kButtonSets[0];  // unknown kinds show a plain OK box
}

}  // namespace

std::vector<int> message_box_buttons(std::uint32_t flags) {
    auto& set = buttons_of(flags);
    return {set.buttons.begin(), set.buttons.begin() + static_cast<long>(set.count)};
}

int message_box_default_button(std::uint32_t flags) {
    auto& set = buttons_of(flags);
    std::size_t index = (flags & MB_DEFBUTTON3) ? 2 : (flags & MB_DEFBUTTON2) ? 1 : 0;
    return set.buttons[std::min(index, set.count - 1)];
}

int message_box_cancel_button(std::uint32_t flags) { return buttons_of(flags).cancel; }

}  // namespace lumo::platform
