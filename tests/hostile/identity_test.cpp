// Who a client is: the host takes a program's process id from the kernel, not from its hello,
// and an answer to a sent message or a keyboard hook counts only from the program asked.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "device_process.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace lumo::test {
namespace {

using platform::Hwnd;
using wire::Kind;
using wire::PacketType;
using wire::Reader;
using wire::Status;
using wire::Writer;

// A connection that writes its own hello, as a hostile tool would.
class RawClient {
public:
    explicit RawClient(const std::string& socket) {
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket.c_str());
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
        timeval tv{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Sends a request and returns the body of its reply (status first); events on the way are
    // skipped.
    std::optional<std::vector<std::byte>> call(Writer& w) {
        auto seq = ++seq_;
        auto bytes = w.bytes();
        std::vector<std::byte> pkt(bytes.begin(), bytes.end());
        std::memcpy(pkt.data() + offsetof(wire::Header, seq), &seq, 4);
        if (::send(fd_, pkt.data(), pkt.size(), MSG_NOSIGNAL) != ssize_t(pkt.size())) return std::nullopt;
        std::vector<std::byte> buf(wire::kMaxPacket);
        for (;;) {
            ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
            if (n <= 0) return std::nullopt;
            wire::Header h;
            std::span<const std::byte> body;
            if (!wire::parse_header(std::span(buf).first(std::size_t(n)), h, body)) return std::nullopt;
            if (h.type == std::uint8_t(PacketType::Reply) && h.seq == seq)
                return std::vector<std::byte>(body.begin(), body.end());
        }
    }

private:
    int fd_ = -1;
    std::uint32_t seq_ = 0;
};

Writer request(Kind kind) { return Writer(kind, PacketType::Request, 0); }

TEST(ClientIdentity, TheProcessIdOfAHelloIsTheKernelsNotTheClaimed) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    RawClient poser(d.socket_path());
    ASSERT_TRUE(poser.ok());
    // It claims to be the lock screen, with the host's own process id.
    auto hello = request(Kind::Hello);
    hello.u32(wire::kVersion).u32(static_cast<std::uint32_t>(d.pid())).s16(u"lumo");
    auto greeted = poser.call(hello);
    ASSERT_TRUE(greeted);
    EXPECT_EQ(Reader(*greeted).status(), Status::Ok);

    auto self = request(Kind::ProcSelf);
    auto r = poser.call(self);
    ASSERT_TRUE(r);
    Reader rd(*r);
    ASSERT_EQ(rd.status(), Status::Ok);
    EXPECT_EQ(rd.u32(), static_cast<std::uint32_t>(::getpid()));

    auto create = request(Kind::WinCreate);
    create.u32(0).u32(0).i32(0).i32(0).i32(10).i32(10).u32(0).s16(u"Posed").s16(u"posed");
    auto made = poser.call(create);
    ASSERT_TRUE(made);
    Reader mr(*made);
    ASSERT_EQ(mr.status(), Status::Ok);
    Hwnd h = mr.u32();
    auto info = request(Kind::WinInfo);
    info.u32(h);
    auto ir = poser.call(info);
    ASSERT_TRUE(ir);
    Reader in(*ir);
    ASSERT_EQ(in.status(), Status::Ok);
    in.s16();
    in.s16();
    for (int i = 0; i < 6; ++i) in.u32();  // style, ex style, rectangle
    in.u32();                              // parent
    EXPECT_EQ(in.u32(), static_cast<std::uint32_t>(::getpid()));

    auto status = d.ctl({"status"});
    EXPECT_NE(status.out.find("pid " + std::to_string(::getpid()) + " lumo"), std::string::npos) << status.out;
    EXPECT_EQ(status.out.find("pid " + std::to_string(d.pid()) + " lumo"), std::string::npos) << status.out;

    // The process it named is none of the device's: ending it is refused, and the host lives.
    auto kill = request(Kind::ProcKill);
    kill.u32(static_cast<std::uint32_t>(d.pid()));
    auto killed = poser.call(kill);
    ASSERT_TRUE(killed);
    EXPECT_EQ(Reader(*killed).status(), Status::NotFound);
    EXPECT_EQ(d.ctl({"status"}).status, 0);
}

TEST(ClientIdentity, AProgramTheHostStartedIsKnownByTheNameItWasStartedAs) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    auto folder = d.dir() / "fs" / "Windows";
    std::filesystem::create_symlink(bin_dir() + "/lumo-testprog", folder / "Helper.exe");
    std::string error;
    auto p = platform::device::connect(d.socket_path(), u"launcher", &error);
    ASSERT_TRUE(p) << error;
    auto pid = p->processes().shell_execute(u"\\Windows\\Helper.exe", u"window Started", true);
    ASSERT_TRUE(pid);
    Hwnd h = 0;
    for (int i = 0; i < 500 && !h; ++i) {
        h = p->windows().find_window(u"Started", std::nullopt);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(h, 0u);
    EXPECT_EQ(p->windows().window_info(h)->process_id, *pid);
    // The test program says hello as "lumo-testprog"; the device knows it as what it started.
    auto status = d.ctl({"status"});
    EXPECT_NE(status.out.find("pid " + std::to_string(*pid) + " Helper\n"), std::string::npos) << status.out;
    EXPECT_TRUE(p->processes().terminate(*pid));
}

// Three programs: the target owns a window, the sender sends to it, and a third one tries to
// answer in the target's place.
class ForgedAnswers : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(d_.start()) << d_.last_error;
        std::string error;
        for (auto* c : {&target_, &sender_, &forger_}) {
            *c = wire::Client::connect(d_.socket_path(), u"party", &error);
            ASSERT_TRUE(*c) << error;
        }
        auto& w = target_->begin(Kind::WinCreate);
        w.u32(0).u32(0).i32(0).i32(0).i32(480).i32(800).u32(0).s16(u"Target").s16(u"target");
        auto r = target_->call(w);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, Status::Ok);
        window_ = Reader(r->body).u32();
    }
    // The first event of `kind` the target gets, within a few seconds.
    std::optional<wire::Packet> target_event(Kind kind) {
        return target_->next_event_if(5000, [kind](const wire::Packet& p) {
            return p.header.kind == static_cast<std::uint16_t>(kind);
        });
    }

    DeviceProcess d_;
    std::unique_ptr<wire::Client> target_, sender_, forger_;
    Hwnd window_ = 0;
};

TEST_F(ForgedAnswers, OnlyTheTargetAnswersASentMessage) {
    auto result = std::async(std::launch::async, [&]() -> std::optional<std::int32_t> {
        auto& w = sender_->begin(Kind::MsgSend);
        w.u32(window_).u32(0x8001).u32(0).i32(0).u32(0);
        auto r = sender_->call(w, 10000);
        if (!r || r->status != Status::Ok) return std::nullopt;
        return Reader(r->body).i32();
    });
    auto sent = target_event(Kind::SentMessage);
    ASSERT_TRUE(sent);
    auto id = Reader(sent->body).u32();

    auto& forged = forger_->begin(Kind::MsgReply);
    forged.u32(id).i32(666);
    auto refused = forger_->call(forged);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, Status::NotFound);

    auto& answer = target_->begin(Kind::MsgReply);
    answer.u32(id).i32(42);
    ASSERT_TRUE(target_->send_only(answer));
    EXPECT_EQ(result.get(), 42);
}

TEST_F(ForgedAnswers, OverLinksOnlyTheProgramAskedAnswers) {
    // The sender links to the target; the forger links to the sender (through a window of it).
    auto link_to = [](wire::Client& c, Hwnd h) -> std::uint32_t {
        auto& w = c.begin(Kind::PeerLink);
        w.u32(h);
        auto r = c.call(w);
        if (!r || r->status != Status::Ok) return 0;
        return Reader(r->body).u32();
    };
    auto& made = sender_->begin(Kind::WinCreate);
    made.u32(0).u32(0).i32(0).i32(0).i32(10).i32(10).u32(0).s16(u"Sender").s16(u"sender");
    auto created = sender_->call(made);
    ASSERT_TRUE(created);
    Hwnd sender_window = Reader(created->body).u32();
    auto target_id = link_to(*sender_, window_);
    ASSERT_NE(target_id, 0u);
    ASSERT_EQ(link_to(*forger_, sender_window), sender_->id());
    // A window the host answers for itself, or one of the asker's own, gets no link.
    auto& self = sender_->begin(Kind::PeerLink);
    self.u32(sender_window);
    EXPECT_EQ(sender_->call(self)->status, Status::Unsupported);

    auto result = std::async(std::launch::async, [&]() -> std::optional<std::int32_t> {
        auto& w = sender_->begin(Kind::LinkSend);
        w.u32(window_).u32(0x8001).u32(0).i32(0);
        bool sent = false;
        auto r = sender_->call_link(target_id, w, 10000, {}, {}, &sent);
        if (!sent || !r || r->status != Status::Ok) return std::nullopt;
        return Reader(r->body).i32();
    });
    auto asked = target_event(Kind::LinkSend);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->link, sender_->id());
    // The forger knows the sequence number and answers first, over its own link.
    Writer forged(Kind::LinkSend, PacketType::Reply, asked->header.seq);
    forged.status(Status::Ok).i32(666);
    EXPECT_TRUE(forger_->reply_link(sender_->id(), forged));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Writer answer(Kind::LinkSend, PacketType::Reply, asked->header.seq);
    answer.status(Status::Ok).i32(42);
    EXPECT_TRUE(target_->reply_link(asked->link, answer));
    EXPECT_EQ(result.get(), 42);
}

// A program linked to another can post over the link; the receiver takes only posts to its own
// windows, as the host would have delivered nothing else to it.
TEST(ForgedPosts, OverALinkOnlyPostsToTheReceiversOwnWindowsAreTaken) {
    DeviceProcess d;
    ASSERT_TRUE(d.start()) << d.last_error;
    std::string error;
    auto receiver = platform::device::connect(d.socket_path(), u"receiver", &error);
    ASSERT_TRUE(receiver) << error;
    auto& win = receiver->windows();
    ASSERT_TRUE(win.register_class(u"Receiver", [](Hwnd, std::uint32_t, platform::WParam, platform::LParam) -> platform::LResult { return 0; }));
    platform::CreateWindowParams cp;
    cp.class_name = u"Receiver";
    cp.rect = {0, 0, 10, 10};
    Hwnd mine = win.create_window(cp);
    ASSERT_NE(mine, 0u);
    auto other = wire::Client::connect(d.socket_path(), u"other", &error);
    auto forger = wire::Client::connect(d.socket_path(), u"forger", &error);
    ASSERT_TRUE(other && forger) << error;
    auto& made = other->begin(Kind::WinCreate);
    made.u32(0).u32(0).i32(0).i32(0).i32(10).i32(10).u32(0).s16(u"Other").s16(u"other");
    auto created = other->call(made);
    ASSERT_TRUE(created);
    Hwnd theirs = Reader(created->body).u32();

    auto& link = forger->begin(Kind::PeerLink);
    link.u32(mine);
    auto linked = forger->call(link);
    ASSERT_TRUE(linked);
    ASSERT_EQ(linked->status, Status::Ok);
    auto receiver_id = Reader(linked->body).u32();
    for (auto [h, w] : {std::pair{theirs, 1u}, std::pair{Hwnd(0xdead0), 2u}, std::pair{mine, 3u}}) {
        Writer post(Kind::PostedMessage, PacketType::Event, 0);
        post.u32(h).u32(0x8005).u32(w).i32(0);
        EXPECT_EQ(forger->post_link(receiver_id, post.bytes()), wire::Client::LinkPost::Sent);
    }
    platform::Message m;
    ASSERT_TRUE(win.get_message(m));
    EXPECT_EQ(m.hwnd, mine);
    EXPECT_EQ(m.message, 0x8005u);
    EXPECT_EQ(m.wparam, 3u);
    EXPECT_FALSE(win.peek_message(m, true));
}

TEST_F(ForgedAnswers, OnlyTheHooksOwnerDecidesWhetherItsKeyIsSwallowed) {
    auto& show = target_->begin(Kind::WinShow);
    show.u32(window_).i32(5);  // SW_SHOW: the window takes the foreground
    ASSERT_TRUE(target_->call(show));
    auto& hook = target_->begin(Kind::HookSet);
    ASSERT_TRUE(target_->call(hook));

    auto& key = sender_->begin(Kind::KeyEvent);
    key.u32(0x0D).u32(0);
    ASSERT_TRUE(sender_->call(key));
    auto call = target_event(Kind::HookCall);
    ASSERT_TRUE(call);
    auto call_id = Reader(call->body).u32();

    auto& forged = forger_->begin(Kind::HookReply);
    forged.u32(call_id).u32(1);  // "swallow it"
    ASSERT_TRUE(forger_->call(forged));
    auto& answer = target_->begin(Kind::HookReply);
    answer.u32(call_id).u32(0);  // the owner lets it pass
    ASSERT_TRUE(target_->send_only(answer));

    auto posted = target_->next_event_if(5000, [](const wire::Packet& p) {
        if (p.header.kind != static_cast<std::uint16_t>(Kind::PostedMessage)) return false;
        Reader rd(p.body);
        rd.u32();
        return rd.u32() == 0x0100;  // WM_KEYDOWN
    });
    ASSERT_TRUE(posted);
    Reader rd(posted->body);
    EXPECT_EQ(rd.u32(), window_);
}

}  // namespace
}  // namespace lumo::test
