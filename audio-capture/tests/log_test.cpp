#include <gtest/gtest.h>

#include "log.hpp"
#include "panic.hpp"

namespace {

TEST(LogRecord, FormatIsByteExact) {
    EXPECT_EQ(audio::format_log_record(1700000000, 4242, "ouvindo em 127.0.0.1:5000"),
              "1700000000 [audio:4242] ouvindo em 127.0.0.1:5000\n");
    EXPECT_EQ(audio::format_log_record(0, 1, ""), "0 [audio:1] \n");
    EXPECT_EQ(audio::format_log_record(5, 2, "a\nb\r\n"), "5 [audio:2] a\nb\r\n\n") << "written unchanged";
}

TEST(PanicText, LocationAndOptionalMessage) {
    EXPECT_EQ(common::describe_panic({"src/x.cpp", 12, 7, "failed to spawn thread"}),
              "panicked at src/x.cpp:12:7:\nfailed to spawn thread");
    EXPECT_EQ(common::describe_panic({"src/x.cpp", 12, 7, std::nullopt}), "panicked at src/x.cpp:12:7");
}

}  // namespace
