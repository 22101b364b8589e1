// The phone's telephony and contacts against clients that mean harm: the fuzzer's seed packets
// replayed on a live host, one program reaching for another's calls, and texts and pictures
// larger than the phone keeps.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;
namespace fs = std::filesystem;

std::unique_ptr<wire::Client> client(DeviceProcess& d, std::u16string_view name) {
    std::string error;
    auto c = wire::Client::connect(d.socket_path(), name, &error);
    EXPECT_TRUE(c) << error;
    return c;
}

// The telephony answer's leading result (0 or a request id on success, negative on error).
std::int32_t result_of(const std::optional<wire::Client::Reply>& r) {
    if (!r || r->status != Status::Ok) return -1;
    Reader rd(r->body);
    return rd.i32();
}

TEST(HostileTelephony, TheFuzzersSeedPacketsLeaveTheHostServing) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    const auto corpus = fs::path(LUMO_SOURCE_DIR) / "fuzz" / "corpus" / "host_protocol";
    int replayed = 0;
    for (const char* name : {"telephony_incoming", "telephony_dial", "telephony_bad_handles", "contacts",
                             "bits_and_libraries"}) {
        SCOPED_TRACE(name);
        std::ifstream in(corpus / name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_FALSE(bytes.empty());
        auto c = client(d, u"seeds");
        ASSERT_TRUE(c);
        // Each packet is a 16-bit length and a request; the replies are read and dropped.
        std::size_t pos = 0;
        while (pos + 2 <= bytes.size()) {
            std::size_t n = std::uint8_t(bytes[pos]) | std::size_t(std::uint8_t(bytes[pos + 1])) << 8;
            pos += 2;
            ASSERT_LE(pos + n, bytes.size());
            std::span<const std::byte> packet(reinterpret_cast<const std::byte*>(bytes.data() + pos), n);
            wire::Header h;
            std::span<const std::byte> body;
            ASSERT_TRUE(wire::parse_header(packet, h, body));
            auto& w = c->begin(Kind(h.kind));
            w.append(body);
            c->call(w, 5000);
            pos += n;
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 40);
    EXPECT_EQ(d.ctl({"status"}).status, 0);
    // The calls the seeds left are listed whole, their texts cut to what the phone keeps.
    auto list = d.ctl({"gsm", "list"});
    EXPECT_EQ(list.status, 0) << list.err;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        ASSERT_GE(f.size(), 5u) << line;
        EXPECT_LE(f[3].size(), 80u);
        EXPECT_LE(f[4].size(), 80u);
    }
    EXPECT_EQ(d.stop(), 0);
}

TEST(HostileTelephony, AProgramCannotDropOrTakeAnotherProgramsCall) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto owner = platform::device::connect(d.socket_path(), u"owner", &error);
    ASSERT_TRUE(owner) << error;
    auto& tel = owner->telephony();
    platform::LineAppHandle app = 0;
    std::uint32_t devices = 0;
    ASSERT_EQ(tel.initialize([](const platform::LineMessage&) {}, u"owner", 0x20000, app, devices), 0);
    platform::LineHandle line = 0;
    ASSERT_EQ(tel.open(app, 0, 0x20000, platform::kCallPrivilegeMonitor | platform::kCallPrivilegeOwner, 0x14, 1,
                       line),
              0);
    ASSERT_EQ(d.ctl({"gsm", "call", "5550100"}).status, 0);
    std::vector<platform::CallHandle> calls;
    ASSERT_TRUE(wait_until([&] { return tel.get_calls(line, calls) == 0 && calls.size() == 1; },
                           std::chrono::milliseconds(3000)));
    const auto call = calls[0];
    // Another program guesses at the handle and its neighbours, and at the line, on the wire.
    auto other = client(d, u"other");
    ASSERT_TRUE(other);
    for (std::uint32_t h = call > 4 ? call - 4 : 0; h < call + 4; ++h) {
        for (std::uint32_t op : {1u, 2u, 3u}) {
            auto& w = other->begin(Kind::TelCallOp);
            w.u32(op).u32(h).u32(4);
            EXPECT_LT(result_of(other->call(w)), 0) << "op " << op << " on " << h;
        }
        auto& lo = other->begin(Kind::TelLineOp);
        lo.u32(1).u32(h);
        EXPECT_LT(result_of(other->call(lo)), 0);
    }
    EXPECT_NE(d.ctl({"gsm", "list"}).out.find("\tincoming\t"), std::string::npos) << d.ctl({"gsm", "list"}).out;
    // Its owner can.
    EXPECT_GE(tel.drop(call), 0);
    EXPECT_TRUE(wait_until([&] { return d.ctl({"gsm", "list"}).out.empty(); }, std::chrono::milliseconds(3000)));
}

TEST(HostileTelephony, OversizedContactsAreRefusedWithTheirReasonAndNothingIsAdded) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto c = client(d, u"contacts");
    ASSERT_TRUE(c);
    const auto before = d.ctl({"contact", "list"}).out;
    auto refused = [&](std::u16string_view name, std::size_t picture_bytes) {
        std::vector<std::byte> picture(picture_bytes, std::byte{'p'});
        auto& add = c->begin(Kind::PimControl);
        add.u32(1).u32(0).s16(name).s16(u"5550199").s16(u"").bin(picture);
        auto r = c->call(add);
        if (!r || r->status == Status::Ok) return std::u16string();
        Reader rd(r->body);
        return rd.s16();
    };
    EXPECT_EQ(refused(std::u16string(500, u'N'), 0), u"a contact needs a name of 1 to 256 characters");
    EXPECT_EQ(refused(u"Big Picture", 60001), u"the picture is larger than 60000 bytes");
    EXPECT_EQ(d.ctl({"contact", "list"}).out, before);
    // The tool refuses the same picture before the device is asked.
    auto big = fs::path(d.dir()) / "big.png";
    {
        std::ofstream out(big, std::ios::binary);
        out << "\x89PNG\r\n\x1a\n" << std::string(70000, 'x');
    }
    auto tool = d.ctl({"contact", "add", "Big Picture", "5550198", "--picture", big.string()});
    EXPECT_NE(tool.status, 0);
    EXPECT_NE(tool.err.find("larger than 60000 bytes"), std::string::npos) << tool.err;
    EXPECT_EQ(d.ctl({"contact", "list"}).out, before);
}

}  // namespace
}  // namespace lumo::test
