#include "lumo/gfx/theme.h"

#include <array>

namespace lumo::gfx {
namespace {

constexpr std::string_view kLock = "lock screen";
constexpr std::string_view kSlider = "slider";
constexpr std::string_view kVolume = "volume control";
constexpr std::string_view kCall = "call and unlock buttons";
constexpr std::string_view kShutdown = "shutdown slider";
constexpr std::string_view kKeypad = "key pad";
constexpr std::string_view kPopup = "pop-up box";
constexpr std::string_view kPassword = "password box";
constexpr std::string_view kSettings = "settings pages";
constexpr std::string_view kShared = "settings and browser";
constexpr std::string_view kBrowser = "browser";

// In the order the programs check them at start-up: a phone missing several is told of the
// first of this list.
constexpr std::array<ThemePicture, 44> kRequired = {{
    {u"topbar.png", kLock},
    {u"system.png", kLock},
    {u"arrows.png", kSlider},
    {u"vcbutton.png", kVolume},
    {u"vcbar.png", kVolume},
    {u"buttonB.png", kCall},
    {u"buttonR.png", kCall},
    {u"buttonL.png", kCall},
    {u"buttons.png", kKeypad},
    {u"s2earrows.png", kCall},
    {u"ecasterik.png", kKeypad},
    {u"stbg.png", kSettings},
    {u"starrow.png", kSettings},
    {u"sttopbar.png", kShared},
    {u"stonoff.png", kSettings},
    {u"stlrL.png", kSettings},
    {u"stlrs.png", kSettings},
    {u"stbutton.png", kShared},
    {u"stsystem.png", kShared},
    {u"stbox.png", kSettings},
    {u"stfirstbox.png", kSettings},
    {u"stlastbox.png", kSettings},
    {u"sback.png", kShared},
    {u"exit.png", kSettings},
    {u"ppressed.png", kLock},
    {u"ptbox.png", kPopup},
    {u"ptbutton.png", kPopup},
    {u"pwbox.png", kPassword},
    {u"pwkey.png", kPassword},
    {u"pwasterik.png", kPassword},
    {u"pwback.png", kPassword},
    {u"buttonG.png", kShutdown},
    {u"buttonLG.png", kSettings},
    {u"tbaron.png", kSettings},
    {u"tbaroff.png", kSettings},
    {u"srroll.png", kSettings},
    {u"srcover.png", kSettings},
    {u"subbutton.png", kBrowser},
    {u"stbuttonL.png", kBrowser},
    {u"iconfolder.png", kBrowser},
    {u"zoominout.png", kBrowser},
    {u"sarrows.png", kBrowser},
    {u"smenu.png", kBrowser},
    {u"pbutton.png", kBrowser},
}};

}  // namespace

std::span<const ThemePicture> RequiredThemePictures() { return kRequired; }

std::u16string ThemePicturePath(std::u16string_view program_folder, std::u16string_view file) {
    std::u16string path(program_folder);
    path += u"\\gfx\\";
    path += file;
    return path;
}

std::u16string FirstMissingThemePicture(std::u16string_view program_folder,
                                        const std::function<bool(std::u16string_view)>& exists) {
    for (const auto& p : kRequired) {
        auto path = ThemePicturePath(program_folder, p.file);
        if (!exists(path)) return path;
    }
    return {};
}

}  // namespace lumo::gfx
