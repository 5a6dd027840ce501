#pragma once

#include <string_view>

// Appends one record to the program's log; never fails, callable from any thread.
using LogFunction = void (*)(std::string_view message);
