#pragma once
// Collects the records the server code writes through SessionConfig::log.
// LogFunction is a plain function pointer, so the store is process-wide.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

inline std::mutex& guard() {
    static std::mutex m;
    return m;
}

inline std::vector<std::string>& store() {
    static std::vector<std::string> records;
    return records;
}

inline void log(std::string_view record) {
    const std::lock_guard lock(guard());
    store().emplace_back(record);
}

// The records written since the last call.
inline std::vector<std::string> take() {
    const std::lock_guard lock(guard());
    std::vector<std::string> out;
    out.swap(store());
    return out;
}

}  // namespace test_support
