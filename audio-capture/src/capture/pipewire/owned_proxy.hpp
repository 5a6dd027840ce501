#pragma once
// One proxy of ours (a bound node or client, a link we created) with its
// listeners. The proxy is destroyed exactly once: by the owner's destructor,
// or as soon as the server removes the object behind it. PipeWire announces
// either with the proxy's destroy event, after which the pointer is dropped
// and nothing touches the proxy again. Only on the loop's thread or under
// its lock; the owner must not move.

#include <pipewire/pipewire.h>

namespace audio::capture::pipewire {

class OwnedProxy {
public:
    OwnedProxy() = default;
    OwnedProxy(const OwnedProxy&) = delete;
    OwnedProxy& operator=(const OwnedProxy&) = delete;
    ~OwnedProxy() { reset(); }

    // Takes the proxy (null is accepted and stays empty). `object_events`,
    // when given, is the interface's event table (node info, client info),
    // called with `data`.
    void own(pw_proxy* proxy, const void* object_events = nullptr, void* data = nullptr);
    void reset();

    [[nodiscard]] bool alive() const { return proxy_ != nullptr; }
    [[nodiscard]] pw_proxy* get() const { return proxy_; }

private:
    static void on_removed(void* data);
    static void on_destroy(void* data);

    pw_proxy* proxy_ = nullptr;
    spa_hook proxy_listener_{};
    spa_hook object_listener_{};
    bool object_listening_ = false;
};

}  // namespace audio::capture::pipewire
