#include "standin_config.hpp"

#include <audioclient.h>

#include <charconv>
#include <functional>
#include <map>
#include <string_view>

namespace standin {
namespace {

std::optional<std::string> environment(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    if (length == 0 || length >= 4096) return std::nullopt;
    std::string text;
    for (DWORD i = 0; i < length; ++i) {
        text += buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '?';
    }
    return text;
}

std::optional<std::uint64_t> number(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// One fault: its name, its value's default ("" when it takes none) and what it sets.
struct Fault {
    const char* default_value;
    std::function<bool(Config&, std::string_view)> apply;
};

template <class T>
std::function<bool(Config&, std::string_view)> sets(std::optional<T> Config::*field) {
    return [field](Config& config, std::string_view value) {
        const auto parsed = number(value);
        if (!parsed || *parsed > 0xFFFFFFFFull) return false;
        config.*field = static_cast<T>(*parsed);
        return true;
    };
}

std::function<bool(Config&, std::string_view)> flag(bool Config::*field) {
    return [field](Config& config, std::string_view) {
        config.*field = true;
        return true;
    };
}

std::function<bool(Config&, std::string_view)> milliseconds(DWORD Config::*field) {
    return [field](Config& config, std::string_view value) {
        const auto parsed = number(value);
        if (!parsed || *parsed > 600000) return false;
        config.*field = static_cast<DWORD>(*parsed);
        return true;
    };
}

const std::map<std::string_view, Fault>& faults() {
    static const std::map<std::string_view, Fault> table = {
        {"activate-call-fails", {"0x8007000E", sets(&Config::activate_call_fails)}},
        {"no-operation", {"", flag(&Config::no_operation)}},
        {"result-call-fails", {"0x8000FFFF", sets(&Config::result_call_fails)}},
        {"activation-fails", {"0x80070005", sets(&Config::activation_fails)}},
        {"second-activation-fails", {"0x80070005", sets(&Config::second_activation_fails)}},
        {"no-interface", {"", flag(&Config::no_interface)}},
        {"wrong-interface", {"", flag(&Config::wrong_interface)}},
        {"late-activation", {"10500", sets(&Config::late_activation_ms)}},
        {"refuse-unconverted-format", {"", flag(&Config::refuse_unconverted_format)}},
        {"refuse-every-format",
         {"0x88890008", [](Config& config, std::string_view value) {
              config.refuse_unconverted_format = true;
              return sets(&Config::refuse_every_format)(config, value);
          }}},
        {"capture-client-fails", {"0x88890010", sets(&Config::capture_client_fails)}},
        {"capture-client-missing", {"", flag(&Config::capture_client_missing)}},
        {"start-fails", {"0x88890004", sets(&Config::start_fails)}},
        {"silent-packets", {"", [](Config& config, std::string_view) {
              config.packets.odd_packets_zeroed = true;
              return true;
          }}},
        {"null-buffer", {"", [](Config& config, std::string_view) {
              config.packets.odd_packets_zeroed = true;
              config.null_buffer = true;
              return true;
          }}},
        {"packet-frames", {"480", [](Config& config, std::string_view value) {
              if (value == "varying") {
                  config.packets.varying = true;
                  return true;
              }
              const auto parsed = number(value);
              if (!parsed || *parsed == 0 || *parsed > 48000) return false;
              config.packets.fixed_frames = static_cast<std::uint32_t>(*parsed);
              return true;
          }}},
        {"late-events", {"", flag(&Config::late_events)}},
        {"invalidated-in-get-buffer", {"50", sets(&Config::invalidated_in_get_buffer)}},
        {"invalidated-in-next-packet-size", {"50", sets(&Config::invalidated_in_next_packet_size)}},
        {"slow-stop", {"300", milliseconds(&Config::slow_stop_ms)}},
        {"slow-release", {"300", milliseconds(&Config::slow_release_ms)}},
    };
    return table;
}

void apply_faults(Config& config, std::string_view list) {
    while (!list.empty()) {
        const auto comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (item.empty()) continue;
        const auto equals = item.find('=');
        const std::string_view name = item.substr(0, equals);
        const auto found = faults().find(name);
        if (found == faults().end()) {
            config.errors.push_back("unknown fault \"" + std::string(name) + "\"");
            continue;
        }
        const bool has_value = equals != std::string_view::npos;
        const std::string_view value = has_value ? item.substr(equals + 1) : found->second.default_value;
        if ((has_value && *found->second.default_value == '\0') || !found->second.apply(config, value)) {
            config.errors.push_back("bad value in \"" + std::string(item) + "\"");
        }
    }
}

Config read_config() {
    Config config;
    if (auto list = environment(L"BRQ_STANDIN_FAULTS")) {
        apply_faults(config, *list);
    }
    if (auto period = environment(L"BRQ_STANDIN_PERIOD_MS")) {
        const auto parsed = number(*period);
        if (parsed && *parsed >= 1 && *parsed <= 1000) {
            config.period_ms = static_cast<DWORD>(*parsed);
        } else {
            config.errors.push_back("bad BRQ_STANDIN_PERIOD_MS \"" + *period + "\"");
        }
    }
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetEnvironmentVariableW(L"BRQ_STANDIN_REPORT", path, MAX_PATH * 4);
    if (length > 0 && length < MAX_PATH * 4) {
        config.report_path.assign(path, length);
    }
    return config;
}

}  // namespace

const Config& config() {
    static const Config read = read_config();
    return read;
}

}  // namespace standin
