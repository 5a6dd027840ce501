#pragma once
// A property every input must keep; a violation stops the fuzzer with a crash
// report and the input saved.

#define FUZZ_CHECK(condition)       \
    do {                            \
        if (!(condition)) {         \
            __builtin_trap();       \
        }                           \
    } while (false)
