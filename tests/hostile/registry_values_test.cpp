// Every setting of the catalogue written with the wrong type, an oversized value or a number out
// of its range: the lock screen reads what it can, keeps its defaults for the rest, and the phone
// still starts, locks and unlocks.
#include <cstring>

#include "hostile_phone.h"
#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"

namespace lumo::hostile {
namespace {

using namespace std::chrono_literals;
using platform::ValueType;

struct BadValue {
    const char* name;
    ValueType type;
    std::vector<std::byte> data;
};

std::vector<std::byte> Bytes(std::initializer_list<int> v) {
    std::vector<std::byte> out;
    for (int b : v) out.push_back(std::byte(b));
    return out;
}

std::vector<BadValue> BadValues() {
    std::vector<BadValue> out;
    std::u16string text = u"not a number";
    std::vector<std::byte> str(text.size() * 2 + 2);
    std::memcpy(str.data(), text.data(), text.size() * 2);
    out.push_back({"StringForAnything", ValueType::String, str});
    out.push_back({"BlobOf16KiB", ValueType::Binary, std::vector<std::byte>(platform::kMaxValueBytes, std::byte{0xFF})});
    out.push_back({"DwordAllOnes", ValueType::Dword, Bytes({0xFF, 0xFF, 0xFF, 0xFF})});
    out.push_back({"DwordMostNegative", ValueType::Dword, Bytes({0, 0, 0, 0x80})});
    out.push_back({"ByteAllOnes", ValueType::Binary, Bytes({0xFF})});
    out.push_back({"EmptyBinary", ValueType::Binary, {}});
    out.push_back({"OddSizedText", ValueType::String, Bytes({'A', 0, 'B'})});
    // A text filling the whole value with no terminating zero.
    out.push_back({"UnterminatedText", ValueType::String, std::vector<std::byte>(platform::kMaxValueBytes, std::byte{'A'})});
    return out;
}

// Options whose any non-zero value takes the slider away:
// with a bad value there the phone must still start and lock, but a drag does not unlock it.
bool TakesTheDragAway(std::u16string_view name) {
    for (auto n : {u"NoSoftKey"})
        if (name == n) return true;
    return false;
}

void Write(Phone& phone, const catalogue::Setting& setting, const BadValue& bad) {
    auto& reg = phone.fake.registry();
    auto root = catalogue::open_root(reg);
    ASSERT_TRUE(root);
    ASSERT_TRUE(reg.write_value(root->key, setting.name, bad.type, bad.data))
        << platform::to_utf8(setting.name) << " " << bad.name;
}

void ExpectItStillWorks(Phone& phone, bool unlock, const std::string& what) {
    std::string failure;
    ASSERT_TRUE(finishes_within(
        10s, [&] { failure = unlock ? phone.boot_lock_unlock() : phone.boot_and_lock(); }, [] {}))
        << what << " blocked the lock screen";
    EXPECT_EQ(failure, "") << what;
}

std::string BadName(const ::testing::TestParamInfo<std::size_t>& info) {
    return BadValues()[info.param].name;
}

std::vector<std::size_t> BadIndices() {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < BadValues().size(); ++i) out.push_back(i);
    return out;
}

// The lock screen reads its settings once at start-up, so one start takes every setting at once.
class OneBadValueEverywhere : public ::testing::TestWithParam<std::size_t> {};

TEST_P(OneBadValueEverywhere, ThePhoneStillBootsLocksAndUnlocks) {
    const auto bad = BadValues()[GetParam()];
    Phone phone;
    for (const auto& setting : catalogue::settings())
        if (!TakesTheDragAway(setting.name)) Write(phone, setting, bad);
    ExpectItStillWorks(phone, true, std::string("every setting as ") + bad.name);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, OneBadValueEverywhere, ::testing::ValuesIn(BadIndices()), BadName);

// Each setting meets each kind of bad value beside different neighbours.
class MixedBadValues : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MixedBadValues, ThePhoneStillBootsLocksAndUnlocks) {
    const auto bads = BadValues();
    Phone phone;
    std::size_t i = GetParam();
    for (const auto& setting : catalogue::settings())
        if (!TakesTheDragAway(setting.name)) Write(phone, setting, bads[i++ % bads.size()]);
    ExpectItStillWorks(phone, true, "mix " + std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, MixedBadValues, ::testing::ValuesIn(BadIndices()));

class DragTakenAway : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DragTakenAway, ThePhoneStillBootsAndLocks) {
    const auto bad = BadValues()[GetParam()];
    Phone phone;
    for (const auto& setting : catalogue::settings())
        if (TakesTheDragAway(setting.name)) Write(phone, setting, bad);
    ExpectItStillWorks(phone, false, bad.name);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, DragTakenAway, ::testing::ValuesIn(BadIndices()), BadName);

}  // namespace
}  // namespace lumo::hostile
