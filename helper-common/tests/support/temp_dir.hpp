#pragma once
// Small helpers for tests that touch the file system or wait on other
// processes: a private temporary folder, whole-file reads, waits with a deadline.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

// A new, empty folder under the system's temporary folder, unique to this
// object; removed with everything in it when the object goes away. A failure
// to create it fails the current test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder (UTF-8, the platform's separators).
    [[nodiscard]] const std::string& path() const { return path_; }
    // A path inside the folder.
    [[nodiscard]] std::string file(std::string_view name) const;

private:
    std::string path_;
};

// The whole content of a file, or nullopt when it cannot be read. Uses the
// standard library only, so it can check the OS layer's own file code.
[[nodiscard]] std::optional<std::string> read_whole_file(std::string_view path);

// Calls `condition` every ~10 ms until it holds or `timeout` has passed;
// returns its last answer.
[[nodiscard]] bool wait_until(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace test_support
