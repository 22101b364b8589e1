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

std::vector<std::size_t> Indices() {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < catalogue::settings().size(); ++i) out.push_back(i);
    return out;
}

std::string SettingName(const ::testing::TestParamInfo<std::size_t>& info) {
    return platform::to_utf8(catalogue::settings()[info.param].name);
}

class BadSetting : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadSetting, ThePhoneStillBootsLocksAndUnlocks) {
    const auto& setting = catalogue::settings()[GetParam()];
    for (const auto& bad : BadValues()) {
        auto phone = std::make_unique<Phone>();
        auto& reg = phone->fake.registry();
        auto root = catalogue::open_root(reg);
        ASSERT_TRUE(root);
        ASSERT_TRUE(reg.write_value(root->key, setting.name, bad.type, bad.data)) << bad.name;
        std::string failure;
        ASSERT_TRUE(finishes_within(
            10s, [&] { failure = phone->boot_lock_unlock(); }, [] {}))
            << bad.name << " blocked the lock screen";
        EXPECT_EQ(failure, "") << bad.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadSetting, ::testing::ValuesIn(Indices()), SettingName);

}  // namespace
}  // namespace lumo::hostile
