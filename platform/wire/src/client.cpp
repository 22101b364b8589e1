#include "lumo/wire/client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumo::wire {

namespace {
thread_local Writer t_writer;

// What a window thread serves even while it waits for something else.
bool is_urgent(std::uint16_t kind) {
    return kind == static_cast<std::uint16_t>(Kind::SentMessage) ||
           kind == static_cast<std::uint16_t>(Kind::HookCall) ||
           kind == static_cast<std::uint16_t>(Kind::SubclassState) ||
           kind == static_cast<std::uint16_t>(Kind::DialogClosed);
}

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}
}  // namespace

std::optional<std::string> socket_from_environment() {
    const char* p = std::getenv("LUMO_DEVICE_SOCKET");
    if (!p || !*p) return std::nullopt;
    return std::string(p);
}

std::string socket_path_for(const std::string& device_dir) { return device_dir + "/run/device.sock"; }

std::unique_ptr<Client> Client::connect(const std::string& socket_path, std::u16string_view program,
                                        std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path) {
        if (error) *error = "socket path too long: " + socket_path;
        return nullptr;
    }
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (error) *error = "cannot connect to " + socket_path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::unique_ptr<Client> c(new Client(fd));
    auto& w = c->begin(Kind::Hello);
    w.u32(kVersion).u32(static_cast<std::uint32_t>(::getpid())).s16(program);
    auto reply = c->call(w, 5000);
    if (!reply || reply->status != Status::Ok) {
        if (error) *error = "the device host did not answer on " + socket_path;
        return nullptr;
    }
    Reader r(reply->body);
    c->id_ = r.u32();
    return c;
}

Client::~Client() { ::close(fd_); }

bool Client::alive() const {
    std::lock_guard lock(mutex_);
    return !dead_;
}

Writer& Client::begin(Kind kind) {
    t_writer.start(kind, PacketType::Request, 0);
    return t_writer;
}

bool Client::read_one(std::unique_lock<std::mutex>& lock, int timeout_ms) {
    reading_ = true;
    lock.unlock();
    auto& buf = read_buf_;  // only the thread holding the reader role touches it
    pollfd p{fd_, POLLIN, 0};
    // Without a time limit the read itself waits: one system call less per message.
    int n = timeout_ms < 0 ? 1 : ::poll(&p, 1, timeout_ms);
    ssize_t got = 0;
    bool broken = n < 0 && errno != EINTR;
    if (n > 0) {
        got = ::recv(fd_, buf.data(), buf.size(), 0);
        broken = got <= 0 && !(got < 0 && errno == EINTR);
    }
    lock.lock();
    reading_ = false;
    got_packet_ = got > 0;
    if (broken) {
        dead_ = true;
    } else if (got > 0) {
        Packet pk;
        std::span<const std::byte> body;
        if (parse_header(std::span(buf).first(static_cast<std::size_t>(got)), pk.header, body)) {
            pk.body.assign(body.begin(), body.end());
            if (pk.header.type == static_cast<std::uint8_t>(PacketType::Reply)) {
                if (waiting_.count(pk.header.seq)) replies_[pk.header.seq] = std::move(pk);
            } else {
                auto& q = is_urgent(pk.header.kind) ? urgent_
                          : pk.header.kind == static_cast<std::uint16_t>(Kind::PostedMessage) ? posted_
                                                                                              : other_;
                q.push_back({++arrivals_, std::move(pk)});
            }
        }
    }
    cv_.notify_all();
    return !dead_;
}

template <class Ready>
bool Client::wait_for(std::unique_lock<std::mutex>& lock, int timeout_ms, Ready ready) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!ready()) {
        if (dead_) return false;
        int left = timeout_ms < 0 ? -1 : remaining_ms(deadline);
        if (!reading_) {
            // Even without time to wait, take what the socket already holds.
            bool got = read_one(lock, left) && got_packet_;
            if (timeout_ms >= 0 && left == 0 && !got && !ready()) return false;
        } else if (timeout_ms >= 0 && left == 0) {
            return false;
        } else if (timeout_ms < 0) {
            cv_.wait(lock);
        } else {
            cv_.wait_until(lock, deadline);
        }
    }
    return true;
}

std::optional<Client::Reply> Client::call(Writer& request, int timeout_ms) {
    static const EventFilter none;
    return call_serving(request, timeout_ms, none, {});
}

bool Client::send_only(Writer& request) {
    std::unique_lock lock(mutex_);
    if (dead_) return false;
    auto seq = next_seq_++;
    lock.unlock();
    auto bytes = request.bytes();
    std::vector<std::byte> pkt(bytes.begin(), bytes.end());
    std::memcpy(pkt.data() + offsetof(Header, seq), &seq, 4);
    pkt[offsetof(Header, flags)] = std::byte{kOneWay};
    if (::send(fd_, pkt.data(), pkt.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(pkt.size())) {
        lock.lock();
        dead_ = true;
        cv_.notify_all();
        return false;
    }
    return true;
}

std::optional<Client::Reply> Client::call_serving(Writer& request, int timeout_ms,
                                                  const EventFilter& urgent,
                                                  const std::function<void(Packet&&)>& handle) {
    std::unique_lock lock(mutex_);
    if (dead_) return std::nullopt;
    auto seq = next_seq_++;
    waiting_.insert(seq);
    auto bytes = request.bytes();
    std::vector<std::byte> pkt(bytes.begin(), bytes.end());
    std::memcpy(pkt.data() + offsetof(Header, seq), &seq, 4);
    lock.unlock();
    // SOCK_SEQPACKET sends whole packets; concurrent senders never interleave.
    if (::send(fd_, pkt.data(), pkt.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(pkt.size())) {
        lock.lock();
        waiting_.erase(seq);
        dead_ = true;
        cv_.notify_all();
        return std::nullopt;
    }
    lock.lock();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint64_t seen = 0;
    std::optional<Found> found;
    auto first_urgent = [&] {
        found = urgent ? find_event(urgent, seen) : std::nullopt;
        return found.has_value();
    };
    bool got = false;
    for (;;) {
        int left = timeout_ms < 0 ? -1 : remaining_ms(deadline);
        got = wait_for(lock, left, [&] { return replies_.count(seq) != 0 || first_urgent(); });
        if (!got || replies_.count(seq)) break;
        Packet p = take(*found);
        seen = 0;  // others may have taken events meanwhile: look again from the start
        lock.unlock();
        handle(std::move(p));
        lock.lock();
    }
    got = replies_.count(seq) != 0;
    waiting_.erase(seq);
    if (!got) return std::nullopt;
    auto node = replies_.extract(seq);
    Reader r(node.mapped().body);
    Reply reply;
    reply.status = r.status();
    if (!r.ok()) return std::nullopt;
    auto& b = node.mapped().body;
    reply.body.assign(b.begin() + 4, b.end());
    return reply;
}

std::optional<Client::Found> Client::find_event(const EventFilter& want, std::uint64_t& seen) {
    // The first match among the events that arrived after `seen`; the queues are in arrival
    // order, so those are found from the back.
    auto first_new = [&](Queue& q) {
        auto it = seen == 0 ? q.begin() : q.end();
        while (it != q.begin() && std::prev(it)->order > seen) --it;
        return std::find_if(it, q.end(), [&](const Queued& e) { return want(e.packet); });
    };
    std::optional<Found> best;
    if (auto it = first_new(urgent_); it != urgent_.end()) {
        best = Found{&urgent_, it};
    } else {
        if (auto it2 = first_new(other_); it2 != other_.end()) best = Found{&other_, it2};
        if (!posted_.empty() && (!best || posted_.front().order < best->at->order) &&
            want(posted_.front().packet))
            best = Found{&posted_, posted_.begin()};
    }
    seen = arrivals_;
    return best;
}

Packet Client::take(const Found& f) {
    Packet p = std::move(f.at->packet);
    f.queue->erase(f.at);
    return p;
}

std::optional<Packet> Client::next_event_if(int timeout_ms, const EventFilter& want) {
    std::unique_lock lock(mutex_);
    std::uint64_t seen = 0;
    std::optional<Found> found;
    auto ready = [&] {
        // Each look checks only what arrived since the last one: draining a long backlog
        // from the socket stays linear.
        found = find_event(want, seen);
        return found.has_value();
    };
    if (!wait_for(lock, timeout_ms, ready)) return std::nullopt;
    return take(*found);
}

std::optional<Packet> Client::take_queued_if(const EventFilter& want) {
    std::lock_guard lock(mutex_);
    std::uint64_t seen = 0;
    auto found = find_event(want, seen);
    if (!found) return std::nullopt;
    return take(*found);
}

std::optional<Packet> Client::next_event(int timeout_ms) {
    static const EventFilter any = [](const Packet&) { return true; };
    return next_event_if(timeout_ms, any);
}

}  // namespace lumo::wire
