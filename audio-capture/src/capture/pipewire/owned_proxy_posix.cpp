#include "capture/pipewire/owned_proxy.hpp"

namespace audio::capture::pipewire {

void OwnedProxy::own(pw_proxy* proxy, const void* object_events, void* data) {
    reset();
    if (proxy == nullptr) {
        return;
    }
    static const pw_proxy_events events = [] {
        pw_proxy_events table{};
        table.version = PW_VERSION_PROXY_EVENTS;
        table.destroy = &OwnedProxy::on_destroy;
        table.removed = &OwnedProxy::on_removed;
        return table;
    }();
    proxy_ = proxy;
    pw_proxy_add_listener(proxy_, &proxy_listener_, &events, this);
    if (object_events != nullptr) {
        pw_proxy_add_object_listener(proxy_, &object_listener_, object_events, data);
        object_listening_ = true;
    }
}

void OwnedProxy::reset() {
    if (proxy_ != nullptr) {
        pw_proxy_destroy(proxy_);  // emits destroy, which drops the pointer
    }
}

// The server removed the object: nothing more will come through the proxy.
void OwnedProxy::on_removed(void* data) {
    auto& self = *static_cast<OwnedProxy*>(data);
    self.reset();
}

void OwnedProxy::on_destroy(void* data) {
    auto& self = *static_cast<OwnedProxy*>(data);
    if (self.object_listening_) {
        spa_hook_remove(&self.object_listener_);
        self.object_listening_ = false;
    }
    spa_hook_remove(&self.proxy_listener_);
    self.proxy_ = nullptr;
}

}  // namespace audio::capture::pipewire
