#include "support/scoped_env.hpp"

#include <cstdlib>

#include "os/fs.hpp"

namespace test_support {

void set_env(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // _putenv_s also updates the process environment block that
    // GetEnvironmentVariableW reads; an empty value removes the variable.
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
#endif
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), old_(os::get_env(name_)) {
    set_env(name_, value);
}

ScopedEnv::~ScopedEnv() { set_env(name_, old_); }

}  // namespace test_support
