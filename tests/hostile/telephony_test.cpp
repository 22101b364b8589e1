// The phone's telephony and contacts against clients that mean harm: the fuzzer's seed packets
// replayed on a live host, one program reaching for another's calls, and texts and pictures
// larger than the phone keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_process.h"
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
    auto owner = client(d, u"owner");
    auto other = client(d, u"other");
    ASSERT_TRUE(owner && other);
    auto& init = owner->begin(Kind::TelInitialize);
    init.u32(0x20000).u32(0).s16(u"owner");
    auto ir = owner->call(init);
    ASSERT_EQ(result_of(ir), 0);
    Reader ird(ir->body);
    ird.i32();
    const auto app = ird.u32();
    auto& open = owner->begin(Kind::TelOpen);
    open.u32(app).u32(0).u32(0x20000).u32(6).u32(0x14).u32(1);
    auto orr = owner->call(open);
    ASSERT_EQ(result_of(orr), 0);
    Reader ord(orr->body);
    ord.i32();
    const auto line = ord.u32();
    ASSERT_EQ(d.ctl({"gsm", "call", "5550100"}).status, 0);
    auto& calls = owner->begin(Kind::TelGetCalls);
    calls.u32(line);
    auto cr = owner->call(calls);
    ASSERT_EQ(result_of(cr), 0);
    Reader crd(cr->body);
    crd.i32();
    ASSERT_EQ(crd.u32(), 1u);
    const auto call = crd.u32();
    // The other program guesses at the handle and its neighbours, and at the line.
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
    EXPECT_NE(d.ctl({"gsm", "list"}).out.find("offering"), std::string::npos) << d.ctl({"gsm", "list"}).out;
    // Its owner can.
    auto& drop = owner->begin(Kind::TelCallOp);
    drop.u32(2).u32(call).u32(0);
    EXPECT_GE(result_of(owner->call(drop)), 0);
}

TEST(HostileTelephony, ContactTextsAreCutAndAPictureBeyondOnePacketIsRefusedClearly) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto c = client(d, u"contacts");
    ASSERT_TRUE(c);
    const std::u16string long_name(500, u'N');
    auto& add = c->begin(Kind::PimControl);
    add.u32(1).u32(0).s16(long_name).s16(u"5550199").s16(u"").bin({});
    auto r = c->call(add);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, Status::Ok);
    auto list = d.ctl({"contact", "list"}).out;
    auto at = list.find("NNNN");
    ASSERT_NE(at, std::string::npos) << list;
    EXPECT_LE(list.find_first_not_of('N', at) - at, 256u);
    // A picture too large for the phone: the tool says why and nothing is added.
    auto big = fs::path(d.dir()) / "big.png";
    {
        std::ofstream out(big, std::ios::binary);
        std::string junk(70000, 'x');
        out << "\x89PNG\r\n\x1a\n" << junk;
    }
    auto before = d.ctl({"contact", "list"}).out;
    auto refused = d.ctl({"contact", "add", "Big Picture", "5550198", "--picture", big.string()});
    EXPECT_NE(refused.status, 0);
    EXPECT_FALSE(refused.err.empty());
    EXPECT_EQ(d.ctl({"contact", "list"}).out, before);
}

}  // namespace
}  // namespace lumo::test
