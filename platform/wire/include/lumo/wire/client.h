#pragma once
// A device process's connection to the host. Any thread may make calls; whichever thread is
// waiting reads the socket for everyone (replies go to their callers, events to the event queue),
// so a single-threaded program pays no thread hand-off per round trip.
//
// Beside it, links: a socket pair the host hands two programs (PeerLink) so that a message sent
// from one to the other's window and its answer go straight between them, two hops instead of
// four through the host, and so do the messages one posts to the other's windows. The reader
// reads the links too; sends that wait for an answer go on them from the program's window thread
// only, posts from any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <poll.h>

#include "lumo/wire/wire.h"

namespace lumo::wire {

struct Packet {
    Header header{};
    std::vector<std::byte> body;
    std::uint32_t link = 0;  // the peer whose link it came by; 0: from the host
};

class Client {
public:
    // Connects and says hello; nullptr with `error` set when the host is not there.
    static std::unique_ptr<Client> connect(const std::string& socket_path,
                                           std::u16string_view program, std::string* error);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Sends a request built with `begin` and waits for its reply; the reply body starts after
    // its Status, which is returned separately. nullopt when the connection is gone or the
    // timeout (-1: none) passed.
    struct Reply {
        Status status = Status::Failed;
        std::vector<std::byte> body;
    };
    Writer& begin(Kind kind);  // per-thread writer, valid until call()
    std::optional<Reply> call(Writer& request, int timeout_ms = -1);
    // The next event from the host, waiting at most `timeout_ms` (-1: forever).
    std::optional<Packet> next_event(int timeout_ms);
    // The first queued event `want` accepts, waiting at most `timeout_ms` (-1: forever); other
    // events stay queued in order. Messages sent to the program's windows and the other events
    // a window thread serves while it waits come before anything else; posted messages leave
    // strictly in order, so `want` sees only the oldest one (it may not pick among them).
    using EventFilter = std::function<bool(const Packet&)>;
    std::optional<Packet> next_event_if(int timeout_ms, const EventFilter& want);
    // Like next_event_if without waiting and without looking at the socket: only what was
    // already read. No system call, for a caller about to wait on the socket anyway.
    std::optional<Packet> take_queued_if(const EventFilter& want);
    // Like call, but while waiting hands every event `urgent` accepts to `handle` on this
    // thread: a program waiting for another still serves what is sent to its own windows.
    std::optional<Reply> call_serving(Writer& request, int timeout_ms, const EventFilter& urgent,
                                      const std::function<void(Packet&&)>& handle);
    // Sends a request whose reply nobody waits for.
    bool send_only(Writer& request);

    bool alive() const;
    std::uint32_t id() const { return id_; }

    // --- links ----------------------------------------------------------------------------
    // Sends a request over the link to `peer` and waits for its answer as call_serving does.
    // `sent` is false when it never left (no such link, or the link cannot take it now): the
    // caller goes through the host instead. A link that breaks while its answer is awaited
    // answers Failed.
    std::optional<Reply> call_link(std::uint32_t peer, Writer& request, int timeout_ms,
                                   const EventFilter& urgent,
                                   const std::function<void(Packet&&)>& handle, bool* sent);
    // Answers a request that came over the link from `peer` (a reply packet with its seq).
    bool reply_link(std::uint32_t peer, const Writer& reply);
    bool has_link(std::uint32_t peer) const;
    // Sends an event packet (a posted message) over the link to `peer`. NoLink: there is none
    // and the caller goes through the host; Broken: the peer left. A full link is waited for,
    // never gone around, as the host's way would overtake what is already on it; a waiter that
    // may read does so meanwhile, so two programs flooding each other cannot both stop.
    enum class LinkPost { NoLink, Sent, Broken };
    LinkPost post_link(std::uint32_t peer, std::span<const std::byte> packet);
    // Closes the links whose peers are gone, once nobody waits on them.
    void close_dead_links();

private:
    explicit Client(int fd) : fd_(fd) {}
    std::optional<Reply> call_on(int fd, std::uint32_t peer, Writer& request, int timeout_ms,
                                 const EventFilter& urgent,
                                 const std::function<void(Packet&&)>& handle, bool* sent);
    // Takes in what one packet brought: a reply, an event, a link's request, a new link.
    void take_in(std::uint32_t from, std::span<const std::byte> bytes, int passed_fd);
    void link_broken(std::uint32_t peer);
    // Reads one packet while holding the reader role; false when the connection broke.
    bool read_one(std::unique_lock<std::mutex>& lock, int timeout_ms);
    template <class Ready>
    bool wait_for(std::unique_lock<std::mutex>& lock, int timeout_ms, Ready ready);

    int fd_;
    std::uint32_t id_ = 0;
    std::uint32_t next_seq_ = 1;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool reading_ = false;
    bool got_packet_ = false;  // the last read_one took a packet
    bool dead_ = false;
    std::set<std::uint32_t> waiting_;  // replies someone still waits for
    std::map<std::uint32_t, Packet> replies_;
    // Events by what they are, each with its place in the arrival order. Kept apart so that
    // finding the next one costs the same with a million posted messages waiting as with none.
    struct Queued {
        std::uint64_t order;
        Packet packet;
    };
    using Queue = std::deque<Queued>;
    struct Found {
        Queue* queue = nullptr;
        Queue::iterator at;
    };
    // The event `want` takes next, looking in the urgent and other queues only at events that
    // arrived after `seen` (the earlier ones were looked at already); updates `seen`.
    std::optional<Found> find_event(const EventFilter& want, std::uint64_t& seen);
    Packet take(const Found& f);
    Queue urgent_;  // sent messages, hook calls, subclass and dialog news
    Queue posted_;  // posted messages
    Queue other_;   // the rest (power notifications, ...)
    std::uint64_t arrivals_ = 0;
    std::vector<std::byte> read_buf_ = std::vector<std::byte>(kMaxPacket);
    std::map<std::uint32_t, int> links_;                 // peer -> its link's socket
    std::vector<int> dead_links_;                        // gone, not yet closed
    int link_posters_ = 0;                               // posting on a link now: none is closed
    std::map<std::uint32_t, std::uint32_t> link_waits_;  // seq -> the peer it was sent to
    std::size_t next_ready_ = 0;                         // where the reader looks first
    std::vector<pollfd> poll_fds_;                       // the reader's: host, then links
    std::vector<std::uint32_t> poll_peers_;
};

// The socket a device process finds its host at: $LUMO_DEVICE_SOCKET.
std::optional<std::string> socket_from_environment();
// The socket path of a device folder.
std::string socket_path_for(const std::string& device_dir);

}  // namespace lumo::wire
