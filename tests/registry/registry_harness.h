#pragma once
// The registry suites run against both platform implementations: the in-process fake and a real
// device host reached over its socket. Each harness hands out a fresh, empty registry.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/platform.h"

namespace lumo::test {

class PlatformHarness {
public:
    virtual ~PlatformHarness() = default;
    virtual platform::Platform& platform() = 0;
    // A second, independent program on the same device.
    virtual platform::Platform& second() = 0;
};

class FakeHarness final : public PlatformHarness {
public:
    platform::Platform& platform() override { return fake_; }
    platform::Platform& second() override { return fake_; }

private:
    platform::fake::FakePlatform fake_;
};

class DeviceHarness final : public PlatformHarness {
public:
    DeviceHarness() {
        if (!device_.start()) {
            ADD_FAILURE() << "device did not start: " << device_.last_error;
            return;
        }
        std::string error;
        first_ = platform::device::connect(device_.socket_path(), u"registry-test", &error);
        second_ = platform::device::connect(device_.socket_path(), u"registry-test-2", &error);
        if (!first_ || !second_) ADD_FAILURE() << "connect: " << error;
    }
    platform::Platform& platform() override { return *first_; }
    platform::Platform& second() override { return *second_; }

private:
    DeviceProcess device_;
    std::unique_ptr<platform::Platform> first_, second_;
};

enum class Impl { Fake, Device };

inline std::unique_ptr<PlatformHarness> make_harness(Impl impl) {
    if (impl == Impl::Fake) return std::make_unique<FakeHarness>();
    return std::make_unique<DeviceHarness>();
}

inline std::string impl_name(const testing::TestParamInfo<Impl>& info) {
    return info.param == Impl::Fake ? "Fake" : "Device";
}

}  // namespace lumo::test
