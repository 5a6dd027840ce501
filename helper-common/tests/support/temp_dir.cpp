#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace test_support {
namespace {

namespace fs = std::filesystem;

fs::path to_fs_path(std::string_view utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string from_fs_path(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string unique_name() {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long salt = std::random_device{}();
    return "brq-test-" + std::to_string(salt) + "-" + std::to_string(counter++);
}

}  // namespace

TempDir::TempDir() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        ADD_FAILURE() << "no temporary folder: " << error.message();
        return;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / unique_name();
        if (fs::create_directory(candidate, error)) {
            path_ = from_fs_path(candidate);
            return;
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder in " << from_fs_path(base) << ": " << error.message();
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        fs::remove_all(to_fs_path(path_), ignored);
    }
}

std::string TempDir::file(std::string_view name) const {
    return from_fs_path(to_fs_path(path_) / to_fs_path(name));
}

std::optional<std::string> read_whole_file(std::string_view path) {
    std::ifstream in(to_fs_path(path), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::move(content).str();
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace test_support
