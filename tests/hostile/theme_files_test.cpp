// Every picture the lock screen reads (the required set, the lock screen's own theme pictures,
// the optional ones and the wallpaper), lang.ini and the lock sounds replaced by bad files: the
// phone still starts, locks and unlocks. The lock screen reads each file once at start-up, so one
// start covers all files at once: one start per kind of bad file with every file of that kind,
// and starts that mix the kinds so each file meets each kind beside the others.
#include <sstream>

#include "hostile_phone.h"

namespace lumo::hostile {
namespace {

using namespace std::chrono_literals;

// Files replaced, relative to the program folder: every picture (the knob and the track too, which
// the lock screen draws itself when they cannot be loaded), the language file and the sounds.
std::vector<std::string> Targets() {
    std::vector<std::string> out;
    for (const auto& p : staged_pictures()) out.push_back("gfx/" + p);
    out.insert(out.end(), {"lang.ini", "lock.wav", "unlock.wav"});
    return out;
}

std::string Describe(const std::vector<std::pair<std::string, Bad>>& planted) {
    std::ostringstream s;
    for (const auto& [file, bad] : planted) s << "\n  " << file << ": " << name_of(bad);
    return s.str();
}

void ExpectBootLockUnlock(Phone& phone, const std::vector<std::pair<std::string, Bad>>& planted) {
    for (const auto& [file, bad] : planted) plant(phone.folder() / file, bad);
    std::string failure;
    ASSERT_TRUE(finishes_within(
        10s, [&] { failure = phone.boot_lock_unlock(); }, [&] { release_fifos(phone.folder()); }))
        << "the lock screen blocked on one of" << Describe(planted);
    EXPECT_EQ(failure, "") << "with" << Describe(planted);
}

class OneKindEverywhere : public ::testing::TestWithParam<Bad> {};

TEST_P(OneKindEverywhere, ThePhoneStillBootsLocksAndUnlocks) {
    std::vector<std::pair<std::string, Bad>> planted;
    for (const auto& f : Targets()) planted.emplace_back(f, GetParam());
    Phone phone;
    ExpectBootLockUnlock(phone, planted);
}

INSTANTIATE_TEST_SUITE_P(Hostile, OneKindEverywhere, ::testing::ValuesIn(kAllBad),
                         [](const ::testing::TestParamInfo<Bad>& i) { return std::string(name_of(i.param)); });

class MixedKinds : public ::testing::TestWithParam<int> {};

TEST_P(MixedKinds, ThePhoneStillBootsLocksAndUnlocks) {
    constexpr int kKinds = int(std::size(kAllBad));
    std::vector<std::pair<std::string, Bad>> planted;
    int i = GetParam();
    for (const auto& f : Targets()) planted.emplace_back(f, kAllBad[i++ % kKinds]);
    Phone phone;
    ExpectBootLockUnlock(phone, planted);
}

INSTANTIATE_TEST_SUITE_P(Hostile, MixedKinds, ::testing::Range(0, int(std::size(kAllBad))));

// An animated wallpaper chosen in the settings that is not what it claims.
class BadGifWallpaper : public ::testing::TestWithParam<Bad> {};

TEST_P(BadGifWallpaper, ThePhoneStillBootsLocksAndUnlocks) {
    Phone phone;
    phone.set_text(u"Wallpaper", u"\\Program Files\\Lumo\\gfx\\moving.gif");
    ExpectBootLockUnlock(phone, {{"gfx/moving.gif", GetParam()}});
}

INSTANTIATE_TEST_SUITE_P(Hostile, BadGifWallpaper, ::testing::ValuesIn(kAllBad),
                         [](const ::testing::TestParamInfo<Bad>& i) { return std::string(name_of(i.param)); });

// The knob alone: without a stand-in there would be nothing to drag, and the user locked out.
class KnobPicture : public ::testing::TestWithParam<Bad> {};

TEST_P(KnobPicture, ThePhoneStillBootsLocksAndUnlocks) {
    Phone phone;
    ExpectBootLockUnlock(phone, {{"gfx/arrows.png", GetParam()}});
}

INSTANTIATE_TEST_SUITE_P(Hostile, KnobPicture, ::testing::ValuesIn(kAllBad),
                         [](const ::testing::TestParamInfo<Bad>& i) { return std::string(name_of(i.param)); });

}  // namespace
}  // namespace lumo::hostile
