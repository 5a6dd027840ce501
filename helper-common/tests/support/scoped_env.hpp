#pragma once

#include <optional>
#include <string>

namespace test_support {

// Sets (or, with nullopt, removes) an environment variable of this process
// for the scope of a test, restoring the old value afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Sets or removes a variable of this process's environment.
void set_env(const std::string& name, const std::optional<std::string>& value);

}  // namespace test_support
