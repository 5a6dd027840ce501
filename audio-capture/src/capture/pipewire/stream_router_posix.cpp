#include "capture/pipewire/stream_router.hpp"

#include <cstring>
#include <string_view>

#include "capture/capture_texts.hpp"
#include "capture/pipewire/stream_owner.hpp"
#include "os/error.hpp"
#include "os/process.hpp"

namespace audio::capture::pipewire {
namespace {

constexpr std::string_view PLAYER_CLASS = "Stream/Output/Audio";
constexpr std::string_view LEFT_CHANNEL = "FL";
constexpr std::string_view RIGHT_CHANNEL = "FR";

std::string_view lookup(const spa_dict* props, const char* key) {
    const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
    return value != nullptr ? std::string_view(value) : std::string_view();
}

std::optional<std::uint32_t> lookup_id(const spa_dict* props, const char* key) {
    return parse_pid(lookup(props, key));  // ids and pids alike: decimal, non-zero
}

}  // namespace

PlatformResult<std::unique_ptr<StreamRouter>> StreamRouter::start(ServerConnection& connection, CaptureMode mode,
                                                                  std::uint32_t target_pid,
                                                                  std::uint32_t capture_node) {
    std::unique_ptr<StreamRouter> router(new StreamRouter(connection, mode, target_pid, capture_node));
    auto* registry = pw_core_get_registry(connection.core(), PW_VERSION_REGISTRY, 0);
    if (registry == nullptr) {
        return std::unexpected(std::string(GRAPH_WATCH_PREFIX) + os::last_error().text());
    }
    router->registry_.own(reinterpret_cast<pw_proxy*>(registry), &events().registry, router.get());
    return router;
}

StreamRouter::~StreamRouter() {
    const LoopLock lock(connection_.loop());
    links_.clear();
    ports_.clear();
    nodes_.clear();
    clients_.clear();
    registry_.reset();
}

void StreamRouter::on_global(void* data, std::uint32_t id, std::uint32_t /*permissions*/, const char* type,
                             std::uint32_t /*version*/, const spa_dict* props) {
    auto& self = *static_cast<StreamRouter*>(data);
    if (!self.registry_.alive()) {
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        self.add_client(id);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        self.add_node(id, props);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        self.add_port(id, props);
    }
}

// Ids are reused: everything known under the id goes. The server removes the
// links of a vanished port itself; our records of them go with the port.
void StreamRouter::on_global_remove(void* data, std::uint32_t id) {
    auto& self = *static_cast<StreamRouter*>(data);
    self.clients_.erase(id);
    self.nodes_.erase(id);
    if (self.ports_.erase(id) > 0) {
        std::erase_if(self.links_, [id](const auto& entry) {
            return entry.first.first == id || entry.first.second == id;
        });
    }
}

const StreamRouter::EventTables& StreamRouter::events() {
    static const EventTables tables = [] {
        EventTables made{};
        made.registry.version = PW_VERSION_REGISTRY_EVENTS;
        made.registry.global = &StreamRouter::on_global;
        made.registry.global_remove = &StreamRouter::on_global_remove;
        made.client.version = PW_VERSION_CLIENT_EVENTS;
        made.client.info = &StreamRouter::on_client_info;
        made.node.version = PW_VERSION_NODE_EVENTS;
        made.node.info = &StreamRouter::on_node_info;
        return made;
    }();
    return tables;
}

void StreamRouter::bind(std::uint32_t id, const char* type, std::uint32_t version, const void* object_events,
                        void* data, OwnedProxy& proxy) {
    auto* bound = pw_registry_bind(reinterpret_cast<pw_registry*>(registry_.get()), id, type, version, 0);
    proxy.own(static_cast<pw_proxy*>(bound), object_events, data);
}

// The client's process ids are only in its info, so it is bound.
void StreamRouter::add_client(std::uint32_t id) {
    auto client = std::make_unique<Client>();
    client->router = this;
    bind(id, PW_TYPE_INTERFACE_Client, PW_VERSION_CLIENT, &events().client, client.get(), client->proxy);
    clients_.insert_or_assign(id, std::move(client));
}

// A player's node: bound for its info, which alone carries the node's own
// application.process.id (set by the PulseAudio layer for its players).
void StreamRouter::add_node(std::uint32_t id, const spa_dict* props) {
    if (id == capture_node_ || lookup(props, PW_KEY_MEDIA_CLASS) != PLAYER_CLASS) {
        return;
    }
    auto node = std::make_unique<Node>();
    node->router = this;
    node->id = id;
    node->client_id = lookup_id(props, PW_KEY_CLIENT_ID);
    bind(id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &events().node, node.get(), node->proxy);
    nodes_.insert_or_assign(id, std::move(node));
}

void StreamRouter::add_port(std::uint32_t id, const spa_dict* props) {
    const auto node = lookup_id(props, PW_KEY_NODE_ID);
    if (!node) {
        return;
    }
    const std::string_view direction = lookup(props, PW_KEY_PORT_DIRECTION);
    Port port{.node = *node,
              .channel = std::string(lookup(props, PW_KEY_AUDIO_CHANNEL)),
              .output = direction == "out" && lookup(props, PW_KEY_PORT_MONITOR) != "true",
              .input = direction == "in"};
    const auto& stored = ports_.insert_or_assign(id, std::move(port)).first->second;
    if (stored.node == capture_node_ && stored.input) {
        // A port of the capture stream: players decided before now get it.
        for (const auto& [node_id, known] : nodes_) {
            if (known->verdict == Verdict::Capture) {
                link_node(*known);
            }
        }
    } else if (auto found = nodes_.find(stored.node);
               stored.output && found != nodes_.end() && found->second->verdict == Verdict::Capture) {
        link_port(id, stored);
    }
}

void StreamRouter::on_client_info(void* data, const pw_client_info* info) {
    auto& client = *static_cast<Client*>(data);
    if ((info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS) == 0 || client.has_info) {
        return;
    }
    client.has_info = true;
    client.process_id = lookup_id(info->props, PW_KEY_APP_PROCESS_ID);
    client.socket_pid = lookup_id(info->props, PW_KEY_SEC_PID);
    StreamRouter& self = *client.router;
    for (auto& [id, node] : self.nodes_) {
        self.decide(*node);
    }
}

void StreamRouter::on_node_info(void* data, const pw_node_info* info) {
    auto& node = *static_cast<Node*>(data);
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) == 0 || node.has_info) {
        return;
    }
    node.has_info = true;
    node.process_id = lookup_id(info->props, PW_KEY_APP_PROCESS_ID);
    if (auto client = lookup_id(info->props, PW_KEY_CLIENT_ID)) {
        node.client_id = client;
    }
    node.router->decide(node);
}

// Once per node, when its facts are in: the node's own pid needs nothing
// more; otherwise its client's info must have arrived.
void StreamRouter::decide(Node& node) {
    if (node.verdict != Verdict::Pending || !node.has_info) {
        return;
    }
    OwnerFacts facts;
    facts.node_process_id = node.process_id;
    if (!facts.node_process_id && node.client_id) {
        if (auto found = clients_.find(*node.client_id); found != clients_.end()) {
            if (!found->second->has_info) {
                return;
            }
            facts.client_process_id = found->second->process_id;
            facts.client_socket_pid = found->second->socket_pid;
        }
    }
    const auto owner = owner_pid(facts);
    const bool in_tree = owner && in_process_tree(os::snapshot_processes(), *owner, target_pid_);
    const bool own_process = owner && *owner == os::current_pid();
    node.verdict = should_capture(mode_, in_tree, own_process) ? Verdict::Capture : Verdict::Ignore;
    if (node.verdict == Verdict::Capture) {
        link_node(node);
    }
}

void StreamRouter::link_node(const Node& node) {
    for (const auto& [id, port] : ports_) {
        if (port.node == node.id && port.output) {
            link_port(id, port);
        }
    }
}

void StreamRouter::link_port(std::uint32_t output_port, const Port& port) {
    const ChannelTargets targets = channel_targets(port.channel);
    for (const bool left : {true, false}) {
        if (!(left ? targets.left : targets.right)) {
            continue;
        }
        const auto input_port = capture_port(left);
        if (!input_port || links_.contains({output_port, *input_port})) {
            continue;
        }
        pw_properties* props = pw_properties_new(nullptr, nullptr);
        pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", port.node);
        pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", output_port);
        pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", capture_node_);
        pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", *input_port);
        auto* proxy = pw_core_create_object(connection_.core(), "link-factory", PW_TYPE_INTERFACE_Link,
                                            PW_VERSION_LINK, &props->dict, 0);
        pw_properties_free(props);
        auto link = std::make_unique<OwnedProxy>();
        link->own(static_cast<pw_proxy*>(proxy));
        links_.insert_or_assign({output_port, *input_port}, std::move(link));
    }
}

std::optional<std::uint32_t> StreamRouter::capture_port(bool left) const {
    const std::string_view channel = left ? LEFT_CHANNEL : RIGHT_CHANNEL;
    for (const auto& [id, port] : ports_) {
        if (port.node == capture_node_ && port.input && port.channel == channel) {
            return id;
        }
    }
    return std::nullopt;
}

}  // namespace audio::capture::pipewire
