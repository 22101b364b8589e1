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

Client::~Client() {
    ::close(fd_);
    for (auto& [peer, fd] : links_) ::close(fd);
    for (int fd : dead_links_) ::close(fd);
}

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
    // The host's socket first, then every link; the fds stay open while the reader role is
    // held (links are closed only by close_dead_links, which waits for no reader).
    // Kept between reads (only the reader touches them): no allocation per message.
    auto& fds = poll_fds_;
    auto& peers = poll_peers_;
    fds.assign(1, pollfd{fd_, POLLIN, 0});
    peers.assign(1, 0);
    for (auto& [peer, fd] : links_) {
        fds.push_back({fd, POLLIN, 0});
        peers.push_back(peer);
    }
    lock.unlock();
    auto& buf = read_buf_;  // only the thread holding the reader role touches it
    // With only the host to hear and no time limit the read itself waits: one system call less
    // per message.
    int n = timeout_ms < 0 && fds.size() == 1 ? 1 : ::poll(fds.data(), fds.size(), timeout_ms);
    std::size_t from = 0;
    if (n > 0 && fds.size() > 1 && !fds[0].revents) {
        // The host's news first: what it sent (a subclass, a window gone) came before whatever
        // a link brings now. The links take turns, so that a busy one cannot starve another.
        const std::size_t links = fds.size() - 1;
        for (std::size_t k = 0; k < links; ++k) {
            std::size_t i = 1 + (next_ready_ + k) % links;
            if (fds[i].revents) {
                from = i;
                break;
            }
        }
        next_ready_ = from;
    }
    ssize_t got = 0;
    int passed_fd = -1;
    bool broken = n < 0 && errno != EINTR;
    if (n > 0) {
        iovec iov{buf.data(), buf.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        got = ::recvmsg(fds[from].fd, &msg, MSG_CMSG_CLOEXEC);
        broken = got <= 0 && !(got < 0 && errno == EINTR);
        for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
            if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
            std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof fd);
                if (passed_fd < 0) {
                    passed_fd = fd;
                } else {
                    ::close(fd);
                }
            }
        }
    }
    lock.lock();
    reading_ = false;
    got_packet_ = got > 0;
    if (broken && peers[from] != 0) {
        link_broken(peers[from]);  // the peer left; the program goes on with the host
        broken = false;
    } else if (broken) {
        dead_ = true;
    } else if (got > 0) {
        take_in(peers[from], std::span(buf).first(static_cast<std::size_t>(got)), passed_fd);
        passed_fd = -1;
    }
    if (passed_fd >= 0) ::close(passed_fd);
    cv_.notify_all();
    return !dead_;
}

void Client::take_in(std::uint32_t from, std::span<const std::byte> bytes, int passed_fd) {
    Packet pk;
    std::span<const std::byte> body;
    // A socket comes only with the host's news of a new link: anything else passing one has it
    // closed, so nobody can fill this program's table of open files.
    auto adopt_link = [&](std::uint32_t peer) {
        if (passed_fd < 0) return;
        if (peer != 0 && peer != id_ && !links_.count(peer)) {
            links_[peer] = passed_fd;
        } else {
            ::close(passed_fd);
        }
        passed_fd = -1;
    };
    if (!parse_header(bytes, pk.header, body)) {
        if (passed_fd >= 0) ::close(passed_fd);
        return;
    }
    pk.body.assign(body.begin(), body.end());
    pk.link = from;
    const auto kind = pk.header.kind;
    if (from != 0) {
        // From a link: the answer to what this program sent on it, or a message to its windows.
        if (pk.header.type == static_cast<std::uint8_t>(PacketType::Reply)) {
            auto it = link_waits_.find(pk.header.seq);
            if (it != link_waits_.end() && it->second == from && waiting_.count(pk.header.seq))
                replies_[pk.header.seq] = std::move(pk);
        } else if (pk.header.type == static_cast<std::uint8_t>(PacketType::Request) &&
                   kind == static_cast<std::uint16_t>(Kind::LinkSend)) {
            urgent_.push_back({++arrivals_, std::move(pk)});
        } else if (pk.header.type == static_cast<std::uint8_t>(PacketType::Event) &&
                   kind == static_cast<std::uint16_t>(Kind::PostedMessage)) {
            posted_.push_back({++arrivals_, std::move(pk)});
        }
        if (passed_fd >= 0) ::close(passed_fd);
        return;
    }
    if (pk.header.type == static_cast<std::uint8_t>(PacketType::Reply)) {
        if (kind == static_cast<std::uint16_t>(Kind::PeerLink)) {
            Reader r(pk.body);
            auto status = r.status();
            auto owner = r.u32();
            if (r.ok() && status == Status::Ok) adopt_link(owner);
        }
        if (waiting_.count(pk.header.seq)) replies_[pk.header.seq] = std::move(pk);
    } else if (kind == static_cast<std::uint16_t>(Kind::LinkOpened)) {
        Reader r(pk.body);
        auto peer = r.u32();
        if (r.ok()) adopt_link(peer);
    } else {
        auto& q = is_urgent(kind) ? urgent_
                  : kind == static_cast<std::uint16_t>(Kind::PostedMessage) ? posted_
                                                                            : other_;
        q.push_back({++arrivals_, std::move(pk)});
    }
    if (passed_fd >= 0) ::close(passed_fd);
}

void Client::link_broken(std::uint32_t peer) {
    auto it = links_.find(peer);
    if (it == links_.end()) return;
    dead_links_.push_back(it->second);
    links_.erase(it);
    // Whoever waits for an answer over it gets Failed now rather than never.
    for (auto& [seq, to] : link_waits_) {
        if (to != peer || !waiting_.count(seq)) continue;
        Packet failed;
        failed.header.type = static_cast<std::uint8_t>(PacketType::Reply);
        failed.header.seq = seq;
        auto code = static_cast<std::uint32_t>(Status::Failed);
        failed.body.resize(4);
        std::memcpy(failed.body.data(), &code, 4);
        failed.link = peer;
        replies_[seq] = std::move(failed);
    }
}

bool Client::has_link(std::uint32_t peer) const {
    std::lock_guard lock(mutex_);
    return links_.count(peer) != 0;
}

void Client::close_dead_links() {
    std::lock_guard lock(mutex_);
    if (reading_ || link_posters_ || dead_links_.empty()) return;
    for (int fd : dead_links_) ::close(fd);
    dead_links_.clear();
}

bool Client::reply_link(std::uint32_t peer, const Writer& reply) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        auto it = links_.find(peer);
        if (it == links_.end()) return false;
        fd = it->second;
    }
    auto bytes = reply.bytes();
    // The asker reads while it waits; one that does not is given a second, not forever.
    for (int tries = 0; tries < 2; ++tries) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(bytes.size())) return true;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
    }
    return false;
}

Client::LinkPost Client::post_link(std::uint32_t peer, std::span<const std::byte> packet) {
    std::unique_lock lock(mutex_);
    auto it = links_.find(peer);
    if (it == links_.end() || dead_) return LinkPost::NoLink;
    const int fd = it->second;  // stays open while link_posters_ counts this call
    ++link_posters_;
    LinkPost result = LinkPost::Broken;
    for (;;) {
        lock.unlock();
        ssize_t n = ::send(fd, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        int error = errno;
        lock.lock();
        if (n == static_cast<ssize_t>(packet.size())) {
            result = LinkPost::Sent;
            break;
        }
        if (n >= 0 || (error != EAGAIN && error != EWOULDBLOCK) || !links_.count(peer) || dead_) break;
        // Full: the peer is behind. Take in what it sent meanwhile (it may be waiting for room
        // itself), then wait a little for room.
        if (!reading_) read_one(lock, 0);
        if (!links_.count(peer) || dead_) break;
        lock.unlock();
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
        lock.lock();
    }
    --link_posters_;
    return result;
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
    return call_on(fd_, 0, request, timeout_ms, urgent, handle, nullptr);
}

std::optional<Client::Reply> Client::call_link(std::uint32_t peer, Writer& request, int timeout_ms,
                                               const EventFilter& urgent,
                                               const std::function<void(Packet&&)>& handle,
                                               bool* sent) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        auto it = links_.find(peer);
        if (it == links_.end() || dead_) {
            *sent = false;
            return std::nullopt;
        }
        fd = it->second;
    }
    return call_on(fd, peer, request, timeout_ms, urgent, handle, sent);
}

std::optional<Client::Reply> Client::call_on(int fd, std::uint32_t peer, Writer& request,
                                             int timeout_ms, const EventFilter& urgent,
                                             const std::function<void(Packet&&)>& handle,
                                             bool* sent) {
    std::unique_lock lock(mutex_);
    if (dead_) return std::nullopt;
    auto seq = next_seq_++;
    waiting_.insert(seq);
    if (peer) link_waits_[seq] = peer;
    auto bytes = request.bytes();
    std::vector<std::byte> pkt(bytes.begin(), bytes.end());
    std::memcpy(pkt.data() + offsetof(Header, seq), &seq, 4);
    lock.unlock();
    // SOCK_SEQPACKET sends whole packets; concurrent senders never interleave. A link that
    // cannot take the packet at once is not waited for: the host's way is still open.
    int flags = MSG_NOSIGNAL | (peer ? MSG_DONTWAIT : 0);
    if (::send(fd, pkt.data(), pkt.size(), flags) != static_cast<ssize_t>(pkt.size())) {
        lock.lock();
        waiting_.erase(seq);
        link_waits_.erase(seq);
        if (peer) {
            *sent = false;
        } else {
            dead_ = true;
        }
        cv_.notify_all();
        return std::nullopt;
    }
    if (sent) *sent = true;
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
    link_waits_.erase(seq);
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
