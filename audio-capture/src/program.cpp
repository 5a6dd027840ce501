#include "program.hpp"

#include <memory>
#include <string>

#include "accept_loop.hpp"
#include "common_texts.hpp"
#include "data_folder.hpp"
#include "info_file.hpp"
#include "log.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/socket.hpp"
#include "os/thread.hpp"
#include "panic.hpp"
#include "process_watch.hpp"
#include "session.hpp"
#include "settings.hpp"
#include "texts.hpp"
#include "watchdog.hpp"

namespace audio {
namespace {

[[noreturn]] void fail(std::string_view record, int status) {
    log_line(record);
    os::exit_process(status);
}

}  // namespace

void run_program() {
    init_log();

    const std::vector<std::string> args = os::program_arguments();
    auto parsed = parse_command_line(args);
    if (!parsed) {
        fail(std::string(texts::ARGUMENTS) + parsed.error(), EXIT_BAD_COMMAND_LINE);
    }
    Settings settings = std::move(*parsed);

    // The data folder is looked up only when no path is given.
    const std::string info_path = settings.info_file
                                      ? *settings.info_file
                                      : os::join_path(common::resolve_data_folder(), common::INFO_FILE_NAME);

    auto watched = open_watched_process(settings.mode, settings.target_pid);
    if (!watched) {
        os::exit_process(EXIT_PROCESS_NOT_OPENED);
    }

    auto listener = os::Listener::bind_loopback(0, LISTEN_BACKLOG);
    if (!listener) {
        fail(std::string(texts::BIND) + listener.error().text(), EXIT_BIND_FAILED);
    }
    const std::uint16_t port = listener->local_port().value_or(0);
    const std::uint32_t own_pid = os::current_pid();

    const std::string info_text = common::format_info_json(port, settings.token, own_pid);
    if (auto written = common::write_info_file(info_path, info_text); !written) {
        fail(std::string(texts::WRITE_INFO) + info_path + ": " + written.error().text(), EXIT_INFO_FILE_FAILED);
    }
    log_line(std::string(texts::LISTENING) + std::to_string(port));

    auto state = std::make_shared<server::SharedState>(server::IdleLimit{settings.idle_secs});

    common::WatchdogRecord watchdog{info_path, settings.token, std::string(watched->exit_reason), state,
                                    std::move(watched->watch), log_line};
    auto watchdog_thread = os::spawn_thread(
        common::texts::WATCHDOG_THREAD_NAME, [record = std::move(watchdog)]() mutable { common::run_watchdog(std::move(record)); });
    if (!watchdog_thread) {
        common::panic(texts::FAILED_TO_SPAWN_THREAD);
    }
    watchdog_thread->detach();

    auto config = std::make_shared<const server::SessionConfig>(
        server::SessionConfig{std::move(settings.token), {}, log_line});
    auto capture = std::make_shared<const CaptureSettings>(
        CaptureSettings{.mode = settings.fake_source ? CaptureMode::FakeSource : settings.mode,
                        .target_pid = watched->pid});

    // Each "cliente" thread authenticates its client and runs the audio session.
    const server::SessionHandler handler = [capture](server::WebSocket& connection,
                                                     const server::SharedState& shared, std::uint64_t generation) {
        const os::AudioThreadPriority audio_priority;  // forwards a frame every 10 ms
        return run_session(connection, *capture, shared, generation);
    };
    common::run_accept_loop(*listener, state, config, handler);
}

}  // namespace audio
