// Change notifications: a message when the stored content changes, and only then.
#include "registry_harness.h"

namespace lumo::test {
namespace {

using platform::NotificationRequest;
using platform::Root;

constexpr std::u16string_view kState = u"System\\State\\Messages";
constexpr platform::Hwnd kSink = 0x1234;
constexpr std::uint32_t kMsg = 0x8000 + 42;

class Notifications : public testing::TestWithParam<Impl> {
protected:
    void SetUp() override {
        h_ = make_harness(GetParam());
        ASSERT_TRUE(reg().create_key(Root::LocalMachine, kState));
        ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 0));
    }
    platform::Registry& reg() { return h_->platform().registry(); }
    platform::NotificationHandle watch(std::uint32_t mask = 0, std::uint32_t batch = 0,
                                       std::u16string value = u"Unread") {
        NotificationRequest r;
        r.root = Root::LocalMachine;
        r.key = kState;
        r.value = std::move(value);
        r.target = kSink;
        r.message = kMsg;
        r.mask = mask;
        r.batch_ms = batch;
        return h_->platform().broker().register_notification(r);
    }
    std::optional<platform::Message> next(std::uint32_t timeout_ms) {
        return h_->platform().messages().take_posted(timeout_ms);
    }
    std::unique_ptr<PlatformHarness> h_;
};

TEST_P(Notifications, AChangeFiresOnceWithTheNewNumber) {
    ASSERT_NE(watch(), 0u);
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 3));
    auto m = next(2000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->hwnd, kSink);
    EXPECT_EQ(m->message, kMsg);
    EXPECT_EQ(m->wparam, 3u);
    EXPECT_FALSE(next(150));
}

TEST_P(Notifications, WritingTheSameContentFiresNothing) {
    ASSERT_NE(watch(), 0u);
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 0));
    EXPECT_FALSE(next(150));
}

TEST_P(Notifications, AChangeOutsideTheMaskFiresNothing) {
    ASSERT_NE(watch(0x0F), 0u);
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 0x30));
    EXPECT_FALSE(next(150));
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 0x31));
    auto m = next(2000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wparam, 0x31u);
}

TEST_P(Notifications, ABurstIsBatchedIntoOneMessageCarryingTheLastValue) {
    ASSERT_NE(watch(0, 300), 0u);
    for (std::uint32_t v = 1; v <= 5; ++v)
        ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", v));
    auto m = next(3000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wparam, 5u);
    EXPECT_FALSE(next(600));
}

TEST_P(Notifications, StringChangesFireWithZeroAndAnotherProgramsWritesCount) {
    ASSERT_NE(watch(0, 0, u"Sender"), 0u);
    ASSERT_TRUE(h_->second().registry().set_string(Root::LocalMachine, kState, u"Sender", u"Bo"));
    auto m = next(2000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wparam, 0u);
    ASSERT_TRUE(reg().set_string(Root::LocalMachine, kState, u"Sender", u"Bo"));
    EXPECT_FALSE(next(150));
}

TEST_P(Notifications, DeletingTheValueOrItsKeyFires) {
    ASSERT_NE(watch(), 0u);
    auto key = reg().open_key(Root::LocalMachine, kState);
    ASSERT_TRUE(key);
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 9));
    ASSERT_TRUE(next(2000));
    ASSERT_TRUE(reg().delete_key(Root::LocalMachine, kState));
    auto m = next(2000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wparam, 0u);
}

TEST_P(Notifications, ClosedNotificationsStayQuiet) {
    auto handle = watch();
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(h_->platform().broker().close_notification(handle));
    EXPECT_FALSE(h_->platform().broker().close_notification(handle));
    ASSERT_TRUE(reg().set_dword(Root::LocalMachine, kState, u"Unread", 7));
    EXPECT_FALSE(next(150));
}

INSTANTIATE_TEST_SUITE_P(BothImplementations, Notifications,
                         testing::Values(Impl::Fake, Impl::Device), impl_name);

}  // namespace
}  // namespace lumo::test
