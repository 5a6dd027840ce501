#include "shutdown.hpp"

#include <atomic>
#include <string>

#include "common_texts.hpp"
#include "info_file.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"

namespace common {
namespace {

std::atomic<bool> g_shutting_down{false};

}  // namespace

void shutdown(std::string_view info_path, std::string_view token, std::string_view reason, LogFunction log) {
    if (g_shutting_down.exchange(true)) {
        os::exit_process(0);
    }
    log(std::string(texts::SHUTTING_DOWN) + std::string(reason));
    // Another instance may have replaced the file with its own since.
    if (is_own_info_file(info_path, token)) {
        (void)os::remove_file(info_path);
    }
    os::exit_process(0);
}

}  // namespace common
