// brenquosta-listen: the project's own listening client. Reads the info file,
// connects as the web client does, prints the format message, writes the
// audio to a WAV file for a while and reports how the frames arrived.
//
//   brenquosta-listen [--info-file PATH] [--seconds N] [--out FILE.wav]
//
// Without --info-file it reads audio.json in the data folder.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "arrival_stats.hpp"
#include "client/ws_client.hpp"
#include "data_folder.hpp"
#include "info_file.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "wav_writer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string info_file;
    double seconds = 5;
    std::string out = "brenquosta.wav";
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "brenquosta-listen: %s\n", why.c_str());
    std::fflush(stderr);
    os::exit_process(1);
}

Options parse_options(const std::vector<std::string>& args) {
    Options options;
    options.info_file = os::join_path(common::resolve_data_folder(), common::INFO_FILE_NAME);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (i + 1 == args.size()) {
            fail("usage: brenquosta-listen [--info-file PATH] [--seconds N] [--out FILE.wav]");
        }
        const std::string& value = args[++i];
        if (name == "--info-file") {
            options.info_file = value;
        } else if (name == "--seconds") {
            options.seconds = std::stod(value);
        } else if (name == "--out") {
            options.out = value;
        } else {
            fail("unknown option " + name);
        }
    }
    return options;
}

common::InfoFields read_info(const std::string& path) {
    auto text = os::read_file(path);
    if (!text) {
        fail("cannot read " + path + ": " + text.error().text());
    }
    auto info = common::parse_info_json(*text);
    if (!info) {
        fail(path + " is not an info file: " + *text);
    }
    return std::move(*info);
}

}  // namespace

int main() {
    const Options options = parse_options(os::program_arguments());
    const common::InfoFields info = read_info(options.info_file);
    const std::string host = "127.0.0.1:" + std::to_string(info.port);
    auto connection = client::open_websocket(info.port, client::DISCORD_ORIGIN, host, "/?t=" + info.token);
    if (!connection) {
        fail("handshake with " + host + ": " + connection.error().text());
    }
    auto format = connection->read_frame(std::chrono::seconds(10));
    if (!format || format->opcode != 1) {
        fail("no format message");
    }
    std::printf("format: %.*s\n", static_cast<int>(format->text().size()), format->text().data());

    listen::WavWriter wav(options.out, 48000, 2);
    if (!wav.is_open()) {
        fail("cannot write " + options.out);
    }
    std::vector<Clock::time_point> arrivals;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(options.seconds));
    while (Clock::now() < end) {
        auto frame = connection->read_frame(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
        if (!frame) {
            if (frame.error().kind() == client::ClientErrorKind::TimedOut) break;
            fail("connection: " + frame.error().text());
        }
        if (frame->opcode == 1) {
            std::printf("message: %.*s\n", static_cast<int>(frame->text().size()), frame->text().data());
        } else if (frame->opcode == 2) {
            arrivals.push_back(Clock::now());
            (void)wav.append(frame->payload);
        } else if (frame->opcode == 8) {
            std::printf("the server closed the connection\n");
            break;
        }
    }
    // Close as a well-behaved client does: wait for the server's answering
    // close (it reads client messages every 100 ms) before hanging up.
    if (connection->send_frame(8, std::string_view{})) {
        const auto give_up = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < give_up) {
            auto frame = connection->read_frame(std::chrono::milliseconds(500));
            if (!frame || frame->opcode == 8) break;
        }
    }
    if (!wav.finish()) {
        fail("writing " + options.out + " failed");
    }
    const auto report = listen::analyse_arrivals(arrivals, std::chrono::milliseconds(10));
    std::printf("wrote %s\n", options.out.c_str());
    std::printf("frames received: %llu\nframes missing: %llu\n",
                static_cast<unsigned long long>(report.received), static_cast<unsigned long long>(report.missing));
    std::printf("arrival jitter: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", report.jitter_p50_ms,
                report.jitter_p99_ms, report.jitter_max_ms);
    return 0;
}
