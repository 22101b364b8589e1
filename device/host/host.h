#pragma once
// The device host: one process per simulated phone. It owns the device folder, the registry and
// its change broker, and serves every device process over one SOCK_SEQPACKET socket from a
// single-threaded event loop.
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host_log.h"
#include "lumo/platform/types.h"
#include "lumo/store/registry_store.h"
#include "lumo/wire/wire.h"
#include "registry_db.h"

namespace lumo::host {

struct Options {
    std::string dir;
    bool headless = false;
    bool startup = true;
    // The simulated shell (task bar, Today screen, ...); a bare device for tests has none.
    bool shell = true;
    bool verbose = false;
    // Answer every message box with its default button after this long (0: never); for tests.
    std::uint32_t auto_dismiss_ms = 0;
    // A connection that has not said hello after this long is closed.
    std::uint32_t hello_timeout_ms = 5000;
    // A program whose queue in the host holds more than `queue_high_water` bytes makes every
    // other program that adds to it wait (the host stops reading it) until the queue is below
    // `queue_low_water` again.
    std::size_t queue_high_water = 1u << 20;
    std::size_t queue_low_water = 256u << 10;
};

// Packets the socket could not take yet, kept back to back in one buffer (a length before
// each): a long backlog costs its bytes, not an allocation per packet, and the memory goes back
// once it drains.
class OutQueue {
public:
    bool empty() const { return head_ == buf_.size(); }
    std::size_t bytes() const { return buf_.size() - head_; }
    void push(std::span<const std::byte> packet);
    std::span<const std::byte> front() const;
    void pop();
    void clear();

private:
    void release();
    std::vector<std::byte> buf_;
    std::size_t head_ = 0;
};

struct ClientConn {
    int fd = -1;
    std::uint32_t id = 0;
    // The process at the other end, as the kernel reports it; never what the client says.
    pid_t pid = 0;
    // The program's name: for a process the host started, the name it was started as; for any
    // other client (lumo-devctl, a test) only the label it gave itself.
    std::u16string program;
    bool started_by_host = false;
    bool greeted = false;
    OutQueue out;
    std::size_t out_bytes = 0;
    bool closing = false;
    std::uint64_t accepted_ms = 0;
    // The client whose full queue this one waits for (0: none); the host does not read it meanwhile.
    std::uint32_t waits_for = 0;
    // Packets read in one batch behind a request that made the client wait (or close): handled,
    // in order, before anything more is read from it.
    std::deque<std::vector<std::byte>> read_ahead;
};

class DisplayWindow;

class Host {
public:
    explicit Host(Options options);
    ~Host();

    // Lays out the folder, takes it, opens the registry and the socket; false with `error` set.
    bool start(std::string* error);
    // Serves until asked to stop; returns the exit status.
    int run();
    // Asks the loop to end; safe from a signal handler.
    void request_stop();
    void install_signal_handlers();

    const Options& options() const { return options_; }
    // True when start() found no device in the folder and laid out a new one.
    bool fresh() const { return fresh_; }
    HostLog& log() { return log_; }
    store::RegistryStore& registry() { return *registry_; }
    std::uint64_t now_ms() const;

    // A request handler reads its fields from `in` and writes a status and its results to
    // `out`; it returns false for a malformed request, which closes that client.
    using Handler = std::function<bool(ClientConn&, wire::Reader& in, wire::Writer& out)>;
    void add_handler(wire::Kind kind, Handler handler);

    // Handles one packet a client sent, replying on its connection or closing it when the
    // packet is malformed. The event loop calls it; the protocol fuzzer feeds it directly.
    void handle_packet(ClientConn& c, std::span<const std::byte> packet);

    // Posts a message event to a client; false when it is gone.
    bool post_to_client(std::uint64_t client_id, const platform::Message& m);
    // Sends an event packet to a client; false when it is gone.
    bool send_event(std::uint32_t client_id, const wire::Writer& event);
    // Sends a packet with a socket passed along (SCM_RIGHTS). Only when nothing waits in the
    // client's queue, so that the packet keeps its place; false when it could not go at once.
    bool send_with_fd(ClientConn& c, std::span<const std::byte> packet, int fd);
    ClientConn* client(std::uint32_t id);
    const std::map<std::uint32_t, std::unique_ptr<ClientConn>>& clients() const { return clients_; }

    // A handler that cannot answer at once takes its reply away and answers later, once.
    struct Deferred {
        std::uint32_t client = 0;
        std::uint16_t kind = 0;
        std::uint32_t seq = 0;
    };
    Deferred defer();
    // Sends a deferred reply: `fill` writes the status and results. Nothing when the client left.
    void reply_later(const Deferred& d, const std::function<void(wire::Writer&)>& fill);

    // One-shot timers of the event loop, in milliseconds from now.
    using TimerId = std::uint64_t;
    TimerId schedule(std::uint32_t ms, std::function<void()> fn);
    void cancel(TimerId id);

    // Called for every client that ends, however it ends, before its connection closes.
    void on_client_closed(std::function<void(ClientConn&)> fn);
    // Called when a child process ended (pid, wait status).
    void on_child_exited(std::function<void(pid_t, int)> fn);
    // Where posted messages to a handle go; set by the window service. Without it a
    // notification goes to the program that registered it.
    std::function<bool(std::uint32_t registering_client, const platform::Message&)> post_router;

    // Called once the host serves, before the first client is read.
    void on_started(std::function<void()> fn);
    // The name a process the host started runs as, asked when it says hello (set by the process
    // service); nullopt for any other process.
    std::function<std::optional<std::u16string>(pid_t)> started_program;

private:
    void accept_client();
    void read_client(ClientConn& c);
    void send_packet(ClientConn& c, std::span<const std::byte> packet);
    void flush_client(ClientConn& c);
    void drop_client(ClientConn& c, const char* why);
    void close_silent_clients();
    void resume_waiting_clients();
    void deliver_notifications();
    // Commits the registry's changes when due; the most the loop may wait before it is next
    // asked (-1: nothing waits). `idle`: the last wait ended with nothing to do.
    int commit_registry_when_due(bool idle);
    void commit_registry();
    void run_timers();
    void reap_children();
    int next_timeout() const;
    void register_core_handlers();
    std::string status_text() const;

    Options options_;
    HostLog log_;
    RegistryDb db_;
    std::unique_ptr<store::RegistryStore> registry_;
    std::map<std::uint16_t, Handler> handlers_;
    std::map<std::uint32_t, std::unique_ptr<ClientConn>> clients_;
    std::uint32_t next_client_id_ = 1;
    int listen_fd_ = -1;
    int lock_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    bool stop_ = false;
    bool registry_unsaved_logged_ = false;
    std::uint64_t registry_dirty_since_ = 0;  // when uncommitted changes were first seen
    bool fresh_ = false;
    std::string socket_path_;
    std::uint64_t started_ms_ = 0;
    std::unique_ptr<DisplayWindow> window_;
    wire::Writer reply_;
    Deferred current_;
    bool deferred_ = false;
    bool handling_ = false;  // inside handle_packet: current_ names the client being served
    std::multimap<std::uint64_t, std::pair<TimerId, std::function<void()>>> timers_;
    TimerId next_timer_ = 1;
    std::vector<std::function<void(ClientConn&)>> closed_hooks_;
    std::vector<std::function<void(pid_t, int)>> child_hooks_;
    std::vector<std::function<void()>> started_hooks_;
};

// The default device folder: lumo/phone under $XDG_DATA_HOME (or ~/.local/share).
std::string default_device_dir();

// True when `path` is `root` or lies below it (both already canonical).
bool path_inside(const std::filesystem::path& root, const std::filesystem::path& path);
// Creates `dir` and any missing parents for the device's owner alone (0700, whatever the umask)
// and makes `dir` itself 0700 if it already existed; false with `error` set.
bool make_private_dir(const std::filesystem::path& dir, std::string* error);
// Creates the folders every device's file system starts with under `root`.
bool lay_out_file_system(const std::filesystem::path& root, std::string* error);

}  // namespace lumo::host
