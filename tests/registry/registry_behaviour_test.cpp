// What every program relies on from the registry, checked against both implementations.
#include <array>
#include <cstring>

#include "lumo/platform/text.h"
#include "registry_harness.h"

namespace lumo::test {
namespace {

using platform::Registry;
using platform::Root;
using platform::ValueInfo;
using platform::ValueType;

constexpr std::u16string_view kLumo = u"Software\\Vesk\\Lumo";

std::vector<std::byte> bytes(std::initializer_list<int> v) {
    std::vector<std::byte> out;
    for (int b : v) out.push_back(std::byte(b));
    return out;
}

class RegistryBehaviour : public testing::TestWithParam<Impl> {
protected:
    void SetUp() override { h_ = make_harness(GetParam()); }
    Registry& reg() { return h_->platform().registry(); }
    std::unique_ptr<PlatformHarness> h_;
};

TEST_P(RegistryBehaviour, CreateKeyReportsWhetherItWasNewAndMakesParents) {
    bool created = false;
    auto key = reg().create_key(Root::CurrentUser, kLumo, &created);
    ASSERT_TRUE(key);
    EXPECT_TRUE(created);
    EXPECT_TRUE(reg().open_key(Root::CurrentUser, u"Software\\Vesk"));
    auto again = reg().create_key(Root::CurrentUser, u"software\\VESK\\lumo", &created);
    ASSERT_TRUE(again);
    EXPECT_FALSE(created);
    // The two roots are separate trees.
    EXPECT_FALSE(reg().open_key(Root::LocalMachine, kLumo));
    EXPECT_FALSE(reg().open_key(Root::CurrentUser, u"Software\\Other"));
}

TEST_P(RegistryBehaviour, ValuesRoundTripWithTheirTypes) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    ASSERT_TRUE(key);
    ASSERT_TRUE(reg().set_dword(Root::CurrentUser, kLumo, u"WakeUpDelayMS", 0xDEADBEEF));
    ASSERT_TRUE(reg().set_string(Root::CurrentUser, kLumo, u"Owner", u"Zoë 電話"));
    auto blob = bytes({0, 1, 0xff, 0x80});
    ASSERT_TRUE(reg().set_binary(Root::CurrentUser, kLumo, u"ShowClock", blob));

    EXPECT_EQ(reg().get_dword(Root::CurrentUser, kLumo, u"WakeUpDelayMS"), 0xDEADBEEFu);
    EXPECT_EQ(reg().get_string(Root::CurrentUser, kLumo, u"Owner"), u"Zoë 電話");
    EXPECT_EQ(reg().get_binary(Root::CurrentUser, kLumo, u"ShowClock"), blob);

    ValueInfo info;
    std::array<std::byte, 64> buf{};
    ASSERT_TRUE(reg().read_value(*key, u"Owner", buf, &info));
    EXPECT_EQ(info.type, ValueType::String);
    EXPECT_EQ(info.size, (std::u16string_view(u"Zoë 電話").size() + 1) * 2);
}

TEST_P(RegistryBehaviour, NamesCompareWithoutCase) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    ASSERT_TRUE(reg().set_dword(Root::CurrentUser, kLumo, u"WakeUpDelayMS", 1));
    ASSERT_TRUE(reg().set_dword(Root::CurrentUser, kLumo, u"WakeupDelayMS", 2));
    EXPECT_EQ(reg().get_dword(Root::CurrentUser, u"SOFTWARE\\vesk\\LUMO", u"wakeupdelayms"), 2u);
    // One value, not two, and it keeps the spelling it was created with.
    auto first = reg().enum_value(*key, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->first, u"WakeUpDelayMS");
    EXPECT_FALSE(reg().enum_value(*key, 1));
}

TEST_P(RegistryBehaviour, ReadFailsForMissingWrongTypeOrSmallBufferAndLeavesBufferAlone) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    ASSERT_TRUE(reg().set_binary(Root::CurrentUser, kLumo, u"Blob", bytes({1, 2, 3, 4, 5, 6})));
    std::array<std::byte, 4> small;
    small.fill(std::byte(0xAA));
    ValueInfo info;
    EXPECT_FALSE(reg().read_value(*key, u"Blob", small, &info));
    EXPECT_EQ(info.size, 6u);  // the caller learns how much it would need
    EXPECT_EQ(info.type, ValueType::Binary);
    for (auto b : small) EXPECT_EQ(b, std::byte(0xAA));

    std::array<std::byte, 16> big{};
    EXPECT_FALSE(reg().read_value(*key, u"Blob", big, nullptr, ValueType::Dword));
    EXPECT_FALSE(reg().read_value(*key, u"Missing", big));
    EXPECT_FALSE(reg().get_dword(Root::CurrentUser, kLumo, u"Blob"));
    EXPECT_FALSE(reg().get_string(Root::CurrentUser, kLumo, u"Blob"));
}

TEST_P(RegistryBehaviour, WritesToMissingKeysAndOversizedValuesAreRefused) {
    platform::RegKey ghost{Root::CurrentUser, u"Software\\Nowhere"};
    EXPECT_FALSE(reg().write_value(ghost, u"X", ValueType::Dword, bytes({1, 0, 0, 0})));
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    std::vector<std::byte> huge(platform::kMaxValueBytes + 1, std::byte(7));
    EXPECT_FALSE(reg().write_value(*key, u"Huge", ValueType::Binary, huge));
    EXPECT_FALSE(reg().get_binary(Root::CurrentUser, kLumo, u"Huge"));
    huge.pop_back();
    EXPECT_TRUE(reg().write_value(*key, u"Huge", ValueType::Binary, huge));
    EXPECT_EQ(reg().get_binary(Root::CurrentUser, kLumo, u"Huge")->size(), platform::kMaxValueBytes);
}

TEST_P(RegistryBehaviour, DeleteValueAndDeleteKeyWithItsSubKeys) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    ASSERT_TRUE(reg().create_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions\\Deep"));
    ASSERT_TRUE(reg().set_dword(Root::CurrentUser, kLumo, u"A", 1));
    ASSERT_TRUE(reg().set_dword(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions", u"B", 2));
    EXPECT_TRUE(reg().delete_value(*key, u"a"));
    EXPECT_FALSE(reg().get_dword(Root::CurrentUser, kLumo, u"A"));
    EXPECT_FALSE(reg().delete_value(*key, u"A"));

    EXPECT_TRUE(reg().delete_key(Root::CurrentUser, u"software\\vesk\\lumo\\exceptions"));
    EXPECT_FALSE(reg().open_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions\\Deep"));
    EXPECT_FALSE(reg().get_dword(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions", u"B"));
    EXPECT_TRUE(reg().open_key(Root::CurrentUser, kLumo));
    EXPECT_FALSE(reg().delete_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions"));
}

TEST_P(RegistryBehaviour, EnumerationFollowsCreationOrder) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    for (auto name : {u"Zeta", u"Alpha", u"Mid"}) {
        ASSERT_TRUE(reg().create_key(Root::CurrentUser, std::u16string(kLumo) + u"\\" + name));
        ASSERT_TRUE(reg().set_dword(Root::CurrentUser, kLumo, name, 1));
    }
    std::vector<std::u16string> keys, values;
    for (std::uint32_t i = 0;; ++i) {
        auto k = reg().enum_subkey(*key, i);
        if (!k) break;
        keys.push_back(*k);
    }
    for (std::uint32_t i = 0;; ++i) {
        auto v = reg().enum_value(*key, i);
        if (!v) break;
        values.push_back(v->first);
        EXPECT_EQ(v->second.type, ValueType::Dword);
        EXPECT_EQ(v->second.size, 4u);
    }
    std::vector<std::u16string> expected = {u"Zeta", u"Alpha", u"Mid"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(values, expected);
}

TEST_P(RegistryBehaviour, AnotherProgramSeesWritesAtOnce) {
    auto& other = h_->second().registry();
    ASSERT_TRUE(reg().create_key(Root::LocalMachine, u"System\\State\\Phone"));
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status", 5));
    EXPECT_EQ(other.get_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status"), 5u);
    ASSERT_TRUE(other.set_string(Root::LocalMachine, u"System\\State\\Phone", u"Name", u"Ann"));
    EXPECT_EQ(reg().get_string(Root::LocalMachine, u"System\\State\\Phone", u"Name"), u"Ann");
    auto key = other.open_key(Root::LocalMachine, u"System\\State\\Phone");
    ASSERT_TRUE(key);
    EXPECT_TRUE(other.flush(*key));
}

TEST_P(RegistryBehaviour, StringsAreStoredWithTheirTerminatorAndReadUpToIt) {
    auto key = reg().create_key(Root::CurrentUser, kLumo);
    // A value written without a terminator still reads back whole.
    auto raw = bytes({'h', 0, 'i', 0});
    ASSERT_TRUE(reg().write_value(*key, u"Raw", ValueType::String, raw));
    EXPECT_EQ(reg().get_string(Root::CurrentUser, kLumo, u"Raw"), u"hi");
    ASSERT_TRUE(reg().set_string(Root::CurrentUser, kLumo, u"Empty", u""));
    EXPECT_EQ(reg().get_string(Root::CurrentUser, kLumo, u"Empty"), u"");
}

INSTANTIATE_TEST_SUITE_P(BothImplementations, RegistryBehaviour,
                         testing::Values(Impl::Fake, Impl::Device), impl_name);

}  // namespace
}  // namespace lumo::test
