#include "support/standin_program.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "os/fs.hpp"

namespace test_support {
namespace {

constexpr const char* REPORT_FILE = "standin-report.txt";

// Wine prefers its own mmdevapi.dll to one beside the program unless told
// otherwise. A child's WINEDLLOVERRIDES comes from the Unix environment Wine
// started with, not from the environment a Windows parent gives it, so the
// tests tell Wine in the prefix's registry, for this program's name only: a
// copy with the stand-in beside it loads the stand-in, the program anywhere
// else still finds no native DLL and loads Wine's.
void prefer_mmdevapi_beside_the_program() {
    HKEY key = nullptr;
    const wchar_t* path = L"Software\\Wine\\AppDefaults\\Brenquosta-audio.exe\\DllOverrides";
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot write Wine's DLL overrides for the program";
        return;
    }
    const wchar_t order[] = L"native,builtin";
    if (RegSetValueExW(key, L"mmdevapi", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order) !=
        ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot write Wine's DLL override for mmdevapi";
    }
    RegCloseKey(key);
}

test_support::EnvOverrides standin_environment(const std::string& faults) {
    prefer_mmdevapi_beside_the_program();
    return {{"BRQ_STANDIN_FAULTS", faults}, {"BRQ_STANDIN_REPORT", std::string("{dir}\\") + REPORT_FILE}};
}

}  // namespace

int StandinReport::count(std::string_view head) const {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(head); }));
}

std::string StandinReport::line(std::string_view head) const {
    const auto found =
        std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(head); });
    return found == lines.end() ? std::string() : *found;
}

std::vector<std::string> StandinReport::problems() const {
    std::vector<std::string> found;
    for (const auto& l : lines) {
        for (const char* head : {"violation: ", "error: ", "overflow: ", "incomplete: "}) {
            if (l.starts_with(head)) found.push_back(l);
        }
    }
    return found;
}

StandinProgram::StandinProgram(const std::string& mode, const std::string& faults)
    : mode_option(mode),
      watched(start_watched()),
      run({mode, std::to_string(watched.pid()), "--token", TOKEN, "--info-file", "{info}"},
          standin_environment(faults), {BRQ_STANDIN_DLL_PATH}) {
    auto info = run.wait_for_info();
    if (!info) {
        ADD_FAILURE() << "the program published no info file";
        std::abort();
    }
    port = info->port;
}

standin::Target StandinProgram::target() const {
    return {watched.pid(), mode_option == "--include-pid" ? standin::LOOPBACK_INCLUDE : standin::LOOPBACK_EXCLUDE};
}

StandinReport StandinProgram::report() const {
    StandinReport report;
    if (auto text = os::read_file(run.folder().file(REPORT_FILE))) {
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) report.lines.push_back(line);
    }
    return report;
}

StandinReport StandinProgram::finish() {
    watched.kill();
    EXPECT_EQ(run.wait(10s), std::optional<test_support::ExitStatus>(0)) << "the program ends with its watched process";
    StandinReport last = report();
    EXPECT_TRUE(last.complete()) << "the engine wrote its report at exit (no report: Wine loaded its own mmdevapi.dll)";
    return last;
}

std::string StandinProgram::end_record() const {
    return mode_option == "--include-pid" ? "encerrando: o processo capturado terminou"
                                          : "encerrando: o processo do Discord terminou";
}

}  // namespace test_support
