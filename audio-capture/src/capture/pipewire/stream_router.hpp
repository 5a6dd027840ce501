#pragma once
// Watches the sound server's graph and links players into the capture
// stream: each audio output stream node is matched to the process that plays
// it when it appears (include: the watched tree's players; exclude: every
// other player), and its output ports are linked straight to the capture
// stream's input ports. Links go away with their nodes. Only on the loop's
// thread or under its lock.

#include <pipewire/pipewire.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "capture/capture_platform.hpp"
#include "capture/pipewire/owned_proxy.hpp"
#include "capture/pipewire/server_connection.hpp"

namespace audio::capture::pipewire {

class StreamRouter {
public:
    // Starts watching at once (lock held by the caller).
    [[nodiscard]] static PlatformResult<std::unique_ptr<StreamRouter>> start(ServerConnection& connection,
                                                                             CaptureMode mode,
                                                                             std::uint32_t target_pid,
                                                                             std::uint32_t capture_node);
    StreamRouter(const StreamRouter&) = delete;
    StreamRouter& operator=(const StreamRouter&) = delete;
    // Takes the loop's lock: our links and bindings go, the registry last.
    ~StreamRouter();

private:
    struct Client {
        StreamRouter* router = nullptr;
        OwnedProxy proxy;
        bool has_info = false;
        std::optional<std::uint32_t> process_id;  // application.process.id
        std::optional<std::uint32_t> socket_pid;  // pipewire.sec.pid
    };
    enum class Verdict { Pending, Capture, Ignore };
    struct Node {
        StreamRouter* router = nullptr;
        std::uint32_t id = 0;
        OwnedProxy proxy;
        bool has_info = false;
        std::optional<std::uint32_t> process_id;  // the node's own application.process.id
        std::optional<std::uint32_t> client_id;
        Verdict verdict = Verdict::Pending;
    };
    struct Port {
        std::uint32_t node = 0;
        std::string channel;
        bool output = false;  // a playing port (not a monitor)
        bool input = false;
    };
    // (output port, input port)
    using LinkKey = std::pair<std::uint32_t, std::uint32_t>;

    StreamRouter(ServerConnection& connection, CaptureMode mode, std::uint32_t target_pid,
                 std::uint32_t capture_node)
        : connection_(connection), mode_(mode), target_pid_(target_pid), capture_node_(capture_node) {}

    struct EventTables {
        pw_registry_events registry;
        pw_client_events client;
        pw_node_events node;
    };
    static const EventTables& events();
    static void on_global(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                          std::uint32_t version, const spa_dict* props);
    static void on_global_remove(void* data, std::uint32_t id);
    static void on_node_info(void* data, const pw_node_info* info);
    static void on_client_info(void* data, const pw_client_info* info);

    void bind(std::uint32_t id, const char* type, std::uint32_t version, const void* object_events, void* data,
              OwnedProxy& proxy);
    void add_client(std::uint32_t id);
    void add_node(std::uint32_t id, const spa_dict* props);
    void add_port(std::uint32_t id, const spa_dict* props);
    void decide(Node& node);
    void link_node(const Node& node);
    void link_port(std::uint32_t output_port, const Port& port);
    [[nodiscard]] std::optional<std::uint32_t> capture_port(bool left) const;

    ServerConnection& connection_;
    const CaptureMode mode_;
    const std::uint32_t target_pid_;
    const std::uint32_t capture_node_;

    // Declared so that links go first, the registry last.
    OwnedProxy registry_;
    std::map<std::uint32_t, std::unique_ptr<Client>> clients_;
    std::map<std::uint32_t, std::unique_ptr<Node>> nodes_;
    std::map<std::uint32_t, Port> ports_;
    std::map<LinkKey, std::unique_ptr<OwnedProxy>> links_;
};

}  // namespace audio::capture::pipewire
