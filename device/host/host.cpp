#include "host.h"

#include <sys/wait.h>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "display_window.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace lumo::host {

namespace fs = std::filesystem;
using wire::Kind;
using wire::PacketType;
using wire::Status;

namespace {
// A client that stops reading is dropped rather than allowed to grow the host without bound.
// Floods other programs cause never get this far: their senders wait (queue_high_water).
constexpr std::size_t kMaxQueuedBytes = 64u << 20;
// A drained queue keeps this much of its buffer for the next burst and gives back the rest.
constexpr std::size_t kKeptQueueBytes = 64u << 10;
// Giving back a buffer this big also returns the freed memory to the system.
constexpr std::size_t kTrimAfterBytes = 1u << 20;

Host* g_host = nullptr;
int g_wake_fd = -1;
void on_signal(int) {
    if (g_host) g_host->request_stop();
}
void on_child(int) {
    int saved = errno;
    char b = 'c';
    if (g_wake_fd >= 0) [[maybe_unused]] auto n = ::write(g_wake_fd, &b, 1);
    errno = saved;
}

// The folders every new device starts with, relative to DIR/fs.
const char* const kLayout[] = {
    "Program Files/Lumo", "Windows/StartUp", "My Documents/My Pictures", "Temp",
};
}  // namespace

void OutQueue::push(std::span<const std::byte> packet) {
    auto size = static_cast<std::uint32_t>(packet.size());
    auto at = buf_.size();
    buf_.resize(at + sizeof size + packet.size());
    std::memcpy(buf_.data() + at, &size, sizeof size);
    std::memcpy(buf_.data() + at + sizeof size, packet.data(), packet.size());
}

std::span<const std::byte> OutQueue::front() const {
    std::uint32_t size;
    std::memcpy(&size, buf_.data() + head_, sizeof size);
    return std::span(buf_).subspan(head_ + sizeof size, size);
}

void OutQueue::pop() {
    head_ += sizeof(std::uint32_t) + front().size();
    if (empty()) {
        release();
    } else if (head_ >= kKeptQueueBytes && head_ * 2 >= buf_.size()) {
        // Half of the buffer is sent: move the rest down rather than let the buffer only grow.
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void OutQueue::clear() {
    head_ = buf_.size();
    release();
}

void OutQueue::release() {
    buf_.clear();
    head_ = 0;
    if (buf_.capacity() <= kKeptQueueBytes) return;
    bool big = buf_.capacity() >= kTrimAfterBytes;
    std::vector<std::byte>().swap(buf_);
    if (big) ::malloc_trim(0);
}

bool path_inside(const fs::path& root, const fs::path& path) {
    auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end();
}

bool make_private_dir(const fs::path& dir, std::string* error) {
    std::error_code ec;
    std::vector<fs::path> missing;
    for (auto p = dir; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            if (error) *error = "cannot create " + it->string() + ": " + std::strerror(errno);
            return false;
        }
    }
    // mkdir's mode passes through the umask; an older folder may be open to others.
    if (::chmod(dir.c_str(), 0700) != 0) {
        if (error) *error = "cannot protect " + dir.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string default_device_dir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.local/share";
    }
    return base + "/lumo/phone";
}

Host::Host(Options options) : options_(std::move(options)) {
    started_ms_ = now_ms();
    registry_ = std::make_unique<store::RegistryStore>([this] { return now_ms(); }, &db_);
    register_core_handlers();
}

Host::~Host() {
    for (auto& [id, c] : clients_) ::close(c->fd);
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        ::unlink(socket_path_.c_str());
    }
    for (int fd : wake_pipe_)
        if (fd >= 0) ::close(fd);
    if (lock_fd_ >= 0) ::close(lock_fd_);
    if (g_host == this) g_host = nullptr;
}

std::uint64_t Host::now_ms() const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void Host::add_handler(Kind kind, Handler handler) {
    handlers_[static_cast<std::uint16_t>(kind)] = std::move(handler);
}

bool Host::start(std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    std::error_code ec;
    fs::path dir(options_.dir);
    // The device is its owner's alone: whoever can write its folder, socket or registry can
    // run programs as that person.
    std::string problem;
    if (!make_private_dir(dir, &problem) || !make_private_dir(dir / "run", &problem)) return fail(problem);

    // One host per folder: the lock is held for the host's whole life.
    auto lock_path = (dir / "run" / "host.lock").string();
    lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_fd_ < 0) return fail("cannot open " + lock_path + ": " + std::strerror(errno));
    ::fchmod(lock_fd_, 0600);
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        [[maybe_unused]] auto n = ::pread(lock_fd_, pid, sizeof pid - 1, 0);
        return fail("another lumo-device (pid " + std::string(pid) + ") already serves " +
                    options_.dir);
    }
    auto pid = std::to_string(::getpid());
    [[maybe_unused]] auto t = ::ftruncate(lock_fd_, 0);
    [[maybe_unused]] auto w = ::pwrite(lock_fd_, pid.data(), pid.size(), 0);

    // A new device gets its file system from the installation, which lays it out aside and
    // moves it into place whole.
    bool fresh = !fs::exists(dir / "fs");
    fresh_ = fresh;
    if (!fresh) {
        if (!make_private_dir(dir / "fs", &problem) || !lay_out_file_system(dir / "fs", &problem))
            return fail(problem);
    }
    if (!log_.open((dir / "device.log").string(), options_.verbose))
        return fail("cannot write " + (dir / "device.log").string());
    log_.printf("starting, pid %s, device %s%s", pid.c_str(), options_.dir.c_str(),
                fresh ? " (new)" : "");

    std::string db_error;
    auto db_path = dir / "registry.db";
    // SQLite gives its log files the database's mode: the file is made private first.
    int db_fd = ::open(db_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (db_fd >= 0) {
        ::fchmod(db_fd, 0600);
        ::close(db_fd);
    }
    if (!db_.open(db_path.string(), &db_error)) return fail(db_error);
    if (!registry_->load()) return fail("cannot read the registry: " + db_.last_error());

    if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(std::string("pipe: ") + std::strerror(errno));

    socket_path_ = wire::socket_path_for(options_.dir);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path_.size() >= sizeof addr.sun_path)
        return fail("the device folder's path is too long for a socket: " + socket_path_);
    std::memcpy(addr.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
    ::unlink(socket_path_.c_str());  // a stale socket of a host that died; we hold the lock
    listen_fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // The socket is made with the umask's mode: none for others from its first moment.
    mode_t old_mask = ::umask(077);
    bool bound = listen_fd_ >= 0 && ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    int bind_errno = errno;
    ::umask(old_mask);
    if (!bound || ::chmod(socket_path_.c_str(), 0600) != 0 || ::listen(listen_fd_, 64) != 0)
        return fail("cannot listen on " + socket_path_ + ": " + std::strerror(bound ? errno : bind_errno));

    if (!options_.headless && DisplayWindow::display_available()) {
        window_ = std::make_unique<DisplayWindow>();
        std::string why;
        if (!window_->open(options_.dir, &why)) {
            log_.printf("no window (%s); running headless", why.c_str());
            window_.reset();
        }
    }
    log_.printf("listening on %s", socket_path_.c_str());
    return true;
}

bool lay_out_file_system(const fs::path& root, std::string* error) {
    for (auto* sub : kLayout) {
        std::error_code ec;
        fs::create_directories(root / sub, ec);
        if (ec) {
            if (error) *error = "cannot create " + (root / sub).string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void Host::install_signal_handlers() {
    g_host = this;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    g_wake_fd = wake_pipe_[1];
    struct sigaction sc {};
    sc.sa_handler = on_child;
    sigemptyset(&sc.sa_mask);
    sc.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sc, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A full disk (or a file size limit) fails the write instead of ending the phone.
    signal(SIGXFSZ, SIG_IGN);
}

void Host::request_stop() {
    char b = 's';
    [[maybe_unused]] auto n = ::write(wake_pipe_[1], &b, 1);
}

int Host::run() {
    for (auto& fn : started_hooks_) fn();
    std::vector<pollfd> fds;
    std::vector<std::uint32_t> ids;
    bool idle = false;
    while (!stop_) {
        resume_waiting_clients();
        fds.clear();
        ids.clear();
        fds.push_back({wake_pipe_[0], POLLIN, 0});
        fds.push_back({listen_fd_, POLLIN, 0});
        for (auto& [id, c] : clients_) {
            // A client that waits for another's queue is not read (its end is still noticed).
            short want = short((c->waits_for ? 0 : POLLIN) | (c->out.empty() ? 0 : POLLOUT));
            fds.push_back({c->fd, want, 0});
            ids.push_back(id);
        }
        int timeout = next_timeout();
        if (window_) timeout = timeout < 0 ? 16 : std::min(timeout, 16);
        if (int wait = commit_registry_when_due(idle); wait >= 0)
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        int n = ::poll(fds.data(), fds.size(), timeout);
        idle = n == 0;
        if (n < 0 && errno != EINTR) {
            log_.printf("poll failed: %s", std::strerror(errno));
            break;
        }
        if (n > 0) {
            if (fds[0].revents) {
                char buf[64];
                bool stop = false;
                for (ssize_t got; (got = ::read(wake_pipe_[0], buf, sizeof buf)) > 0;)
                    for (ssize_t i = 0; i < got; ++i) stop |= buf[i] == 's';
                reap_children();
                if (stop) {
                    log_.line("stop requested");
                    stop_ = true;
                }
            }
            if (fds[1].revents & POLLIN) accept_client();
            for (std::size_t i = 0; i < ids.size(); ++i) {
                auto it = clients_.find(ids[i]);
                if (it == clients_.end()) continue;
                auto& c = *it->second;
                auto ev = fds[i + 2].revents;
                if (ev & POLLOUT) flush_client(c);
                if (c.waits_for && (ev & (POLLHUP | POLLERR))) {
                    drop_client(c, nullptr);  // it left; what it still asked no longer matters
                } else if (ev & (POLLIN | POLLHUP | POLLERR)) {
                    read_client(c);
                }
            }
        }
        close_silent_clients();
        log_.flush_repeats();
        run_timers();
        deliver_notifications();
        std::erase_if(clients_, [&](auto& e) {
            if (!e.second->closing) return false;
            for (auto& hook : closed_hooks_) hook(*e.second);
            registry_->remove_owner(e.first);
            ::close(e.second->fd);
            return true;
        });
        if (window_ && !window_->pump()) {
            log_.line("window closed");
            stop_ = true;
        }
    }
    // Orderly end: the last changes are committed and the log checkpointed into the file.
    if (!registry_->flush() && db_.uncommitted())
        log_.printf("registry changes could not be stored: %s", db_.last_error().c_str());
    db_.close();
    window_.reset();
    log_.line("stopped");
    return 0;
}

namespace {
// The process at the other end of a connection, as the kernel saw it connect; 0 when unknown.
pid_t peer_pid(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return 0;
    return cred.pid;
}
}  // namespace

void Host::accept_client() {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        int size = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        auto c = std::make_unique<ClientConn>();
        c->fd = fd;
        c->id = next_client_id_++;
        c->pid = peer_pid(fd);
        c->accepted_ms = now_ms();
        clients_[c->id] = std::move(c);
    }
}

void Host::close_silent_clients() {
    auto now = now_ms();
    for (auto& [id, c] : clients_)
        if (!c->greeted && !c->closing && now - c->accepted_ms >= options_.hello_timeout_ms)
            drop_client(*c, "said no hello in time");
}

void Host::resume_waiting_clients() {
    for (auto& [id, c] : clients_) {
        if (c->waits_for) {
            auto* full = client(c->waits_for);
            if (!full || full->out_bytes <= options_.queue_low_water) c->waits_for = 0;
        }
        // What was read ahead of the wait is handled now: the socket may hold nothing more, so
        // the poll would not bring the client back.
        if (!c->waits_for && !c->closing && !c->read_ahead.empty()) read_client(*c);
    }
}

void Host::read_client(ClientConn& c) {
    // Several packets a system call; a short batch means the socket is empty, which spares the
    // read that would only find nothing.
    constexpr unsigned kBatch = 8;
    constexpr std::size_t kSlot = wire::kMaxPacket + 1;
    static std::vector<std::byte> buf(kSlot * kBatch);
    static std::array<iovec, kBatch> iov;
    static std::array<mmsghdr, kBatch> msgs;
    int handled = 0;
    while (!c.read_ahead.empty() && !c.closing && !c.waits_for) {
        auto packet = std::move(c.read_ahead.front());
        c.read_ahead.pop_front();
        handle_packet(c, packet);
        ++handled;
    }
    while (handled < 64 && !c.closing && !c.waits_for) {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {buf.data() + i * kSlot, kSlot};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        int n = ::recvmmsg(c.fd, msgs.data(), kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) return;
            drop_client(c, std::strerror(errno));
            return;
        }
        for (int i = 0; i < n; ++i) {
            std::size_t len = msgs[i].msg_len;
            if (len == 0) {  // the other end closed (no packet of the protocol is empty)
                drop_client(c, nullptr);
                return;
            }
            if (len > wire::kMaxPacket || (msgs[i].msg_hdr.msg_flags & MSG_TRUNC)) {
                drop_client(c, "packet larger than the protocol allows");
                return;
            }
            auto packet = std::span(buf).subspan(i * kSlot, len);
            if (c.waits_for) {
                c.read_ahead.emplace_back(packet.begin(), packet.end());
                continue;
            }
            handle_packet(c, packet);
            ++handled;
            if (c.closing) return;
        }
        if (n < int(kBatch)) return;
    }
}

void Host::handle_packet(ClientConn& c, std::span<const std::byte> packet) {
    wire::Header h;
    std::span<const std::byte> body;
    if (!wire::parse_header(packet, h, body) ||
        h.type != static_cast<std::uint8_t>(PacketType::Request)) {
        drop_client(c, "malformed packet header");
        return;
    }
    if (!c.greeted && h.kind != static_cast<std::uint16_t>(Kind::Hello)) {
        drop_client(c, "request before hello");
        return;
    }
    reply_.start(static_cast<Kind>(h.kind), PacketType::Reply, h.seq);
    current_ = {c.id, h.kind, h.seq};
    deferred_ = false;
    handling_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{handling_};
    auto it = handlers_.find(h.kind);
    if (it == handlers_.end()) {
        log_.printf("client %u: unsupported request %u", c.id, unsigned(h.kind));
        reply_.status(Status::Unsupported);
    } else {
        wire::Reader in(body);
        if (!it->second(c, in, reply_)) {
            log_.printf("client %u (%s): malformed %s request", c.id,
                        platform::to_utf8(c.program).c_str(),
                        std::string(wire::kind_name(h.kind)).c_str());
            drop_client(c, nullptr);
            return;
        }
    }
    // What a request changed is news sent before its answer: nothing the requester does next
    // (a post over a link) can overtake it, and a program watching its own change finds the news
    // queued when the answer wakes it. A watcher's full queue does not make the writer wait.
    handling_ = false;
    deliver_notifications();
    if (!deferred_ && !(h.flags & wire::kOneWay)) send_packet(c, reply_.bytes());
}

Host::Deferred Host::defer() {
    deferred_ = true;
    return current_;
}

void Host::reply_later(const Deferred& d, const std::function<void(wire::Writer&)>& fill) {
    auto* c = client(d.client);
    if (!c) return;
    wire::Writer w(static_cast<Kind>(d.kind), PacketType::Reply, d.seq);
    fill(w);
    send_packet(*c, w.bytes());
}

ClientConn* Host::client(std::uint32_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second->closing) return nullptr;
    return it->second.get();
}

bool Host::send_event(std::uint32_t client_id, const wire::Writer& event) {
    auto* c = client(client_id);
    if (!c) return false;
    send_packet(*c, event.bytes());
    return !c->closing;
}

Host::TimerId Host::schedule(std::uint32_t ms, std::function<void()> fn) {
    auto id = next_timer_++;
    timers_.emplace(now_ms() + ms, std::pair{id, std::move(fn)});
    return id;
}

void Host::cancel(TimerId id) {
    std::erase_if(timers_, [&](auto& e) { return e.second.first == id; });
}

void Host::run_timers() {
    auto now = now_ms();
    // A timer may schedule or cancel others: take one at a time.
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto fn = std::move(timers_.begin()->second.second);
        timers_.erase(timers_.begin());
        fn();
    }
}

int Host::next_timeout() const {
    std::optional<std::uint64_t> due = registry_->next_due();
    if (!timers_.empty() && (!due || timers_.begin()->first < *due)) due = timers_.begin()->first;
    for (auto& [id, c] : clients_) {
        if (c->greeted || c->closing) continue;
        auto at = c->accepted_ms + options_.hello_timeout_ms;
        if (!due || at < *due) due = at;
    }
    if (auto at = log_.repeats_due(); at && (!due || *at < *due)) due = *at;
    if (!due) return -1;
    auto now = now_ms();
    return *due <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(*due - now, 60000));
}

void Host::reap_children() {
    for (;;) {
        int status = 0;
        pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return;
        for (auto& fn : child_hooks_) fn(pid, status);
    }
}

void Host::on_client_closed(std::function<void(ClientConn&)> fn) { closed_hooks_.push_back(std::move(fn)); }
void Host::on_child_exited(std::function<void(pid_t, int)> fn) { child_hooks_.push_back(std::move(fn)); }
void Host::on_started(std::function<void()> fn) { started_hooks_.push_back(std::move(fn)); }

void Host::send_packet(ClientConn& c, std::span<const std::byte> packet) {
    if (c.closing) return;
    if (c.out.empty()) {
        ssize_t n = ::send(c.fd, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(packet.size())) return;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            drop_client(c, "send failed");
            return;
        }
    }
    if (c.out_bytes + packet.size() > kMaxQueuedBytes) {
        drop_client(c, "stopped reading its messages");
        return;
    }
    c.out.push(packet);
    c.out_bytes += packet.size();
    // Whoever asked for this while the queue is this long waits until it drains: a flood from
    // others slows its senders down instead of growing the host or losing the receiver.
    if (handling_ && current_.client != c.id && c.out_bytes > options_.queue_high_water) {
        if (auto* sender = client(current_.client); sender && !sender->waits_for) {
            sender->waits_for = c.id;
            log_.printf("client %u (%s) waits: the queue of client %u (%s) is full", sender->id,
                        platform::to_utf8(sender->program).c_str(), c.id,
                        platform::to_utf8(c.program).c_str());
        }
    }
}

bool Host::send_with_fd(ClientConn& c, std::span<const std::byte> packet, int fd) {
    if (c.closing || !c.out.empty()) return false;
    iovec iov{const_cast<std::byte*>(packet.data()), packet.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_RIGHTS;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cm), &fd, sizeof fd);
    return ::sendmsg(c.fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(packet.size());
}

void Host::flush_client(ClientConn& c) {
    while (!c.out.empty()) {
        auto p = c.out.front();
        ssize_t n = ::send(c.fd, p.data(), p.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n != static_cast<ssize_t>(p.size())) {
            drop_client(c, "send failed");
            return;
        }
        c.out_bytes -= p.size();
        c.out.pop();
    }
}

void Host::drop_client(ClientConn& c, const char* why) {
    if (c.closing) return;
    if (why)
        log_.printf("client %u (%s, pid %d) closed: %s", c.id, platform::to_utf8(c.program).c_str(),
                    int(c.pid), why);
    c.closing = true;
    c.out.clear();
    c.out_bytes = 0;
}

bool Host::post_to_client(std::uint64_t client_id, const platform::Message& m) {
    auto it = clients_.find(static_cast<std::uint32_t>(client_id));
    if (it == clients_.end() || it->second->closing) return false;
    wire::Writer w(Kind::PostedMessage, PacketType::Event, 0);
    w.u32(m.hwnd).u32(m.message).u32(m.wparam).i32(m.lparam);
    send_packet(*it->second, w.bytes());
    return true;
}

// Registry changes are committed in groups, after their answers and notifications went out:
// once the host had nothing to do for a moment, or a little after the first of them, so a burst
// of changes costs one commit and a program is not kept waiting for the disk. A killed host loses
// at most that little while of changes, each value then old, never torn; a flush (RegFlushKey)
// and an orderly stop commit at once. Changes storage refused are tried again now and then.
int Host::commit_registry_when_due(bool idle) {
    constexpr std::uint64_t kIdleMs = 2, kLatestMs = 25, kRetryMs = 1000;
    if (!db_.uncommitted()) {
        registry_dirty_since_ = 0;
        return -1;
    }
    auto now = now_ms();
    if (!registry_dirty_since_) registry_dirty_since_ = now;
    bool retrying = db_.failing();
    auto latest = retrying ? kRetryMs : kLatestMs;
    auto age = now - registry_dirty_since_;
    if ((idle && !retrying) || age >= latest) {
        commit_registry();
        if (!db_.uncommitted()) {
            registry_dirty_since_ = 0;
            return -1;
        }
        registry_dirty_since_ = now;
        return static_cast<int>(kRetryMs);
    }
    return static_cast<int>(retrying ? latest - age : std::min(kIdleMs, latest - age));
}

void Host::commit_registry() {
    bool stored = db_.commit();
    if (!stored && !registry_unsaved_logged_) {
        log_.printf("registry changes not stored yet (%s); they are kept and written again",
                    db_.last_error().c_str());
        registry_unsaved_logged_ = true;
    } else if (stored && registry_unsaved_logged_) {
        log_.line("registry changes stored");
        registry_unsaved_logged_ = false;
    }
}

void Host::deliver_notifications() {
    static std::vector<store::Delivery> due;
    due.clear();
    registry_->take_due(due);
    for (auto& d : due) {
        if (post_router) {
            post_router(static_cast<std::uint32_t>(d.owner), d.message);
        } else {
            post_to_client(d.owner, d.message);
        }
    }
}

std::string Host::status_text() const {
    std::string s = "device " + options_.dir + "\n";
    s += "pid " + std::to_string(::getpid()) + "\n";
    s += "uptime_ms " + std::to_string(now_ms() - started_ms_) + "\n";
    s += "display " + std::string(window_ ? "window" : "headless") + "\n";
    s += "clients " + std::to_string(clients_.size()) + "\n";
    for (auto& [id, c] : clients_)
        s += "client " + std::to_string(id) + " pid " + std::to_string(c->pid) + " " +
             platform::to_utf8(c->program) + "\n";
    return s;
}

void Host::register_core_handlers() {
    add_handler(Kind::Hello, [this](ClientConn& c, wire::Reader& in, wire::Writer& out) {
        auto version = in.u32();
        [[maybe_unused]] auto claimed_pid = in.u32();
        auto program = in.s16();
        if (!in.done() || program.size() > platform::kMaxNameChars) return false;
        if (version != wire::kVersion) {
            out.status(Status::Unsupported);
            return true;
        }
        // Who is calling is the kernel's word, not the client's: a program could otherwise
        // take another's process id, and with it its windows, its path and its end.
        if (c.pid == 0) c.pid = peer_pid(c.fd);
        c.greeted = true;
        auto started = started_program ? started_program(c.pid) : std::nullopt;
        c.started_by_host = started.has_value();
        c.program = started ? *started : program;
        out.status(Status::Ok).u32(c.id);
        return true;
    });
    add_handler(Kind::Status, [this](ClientConn&, wire::Reader& in, wire::Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).s16(platform::to_u16(status_text()));
        return true;
    });
    add_handler(Kind::Shutdown, [this](ClientConn& c, wire::Reader& in, wire::Writer& out) {
        if (!in.done()) return false;
        log_.printf("shutdown asked by client %u", c.id);
        stop_ = true;
        out.status(Status::Ok);
        return true;
    });
}

}  // namespace lumo::host
