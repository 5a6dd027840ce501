#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os/error.hpp"
#include "os/fs.hpp"

namespace {

// "{message} (os error N)", or "os error N" alone when the system has no
// text (Wine has none for several Winsock codes).
void expect_rendered(const os::SysError& error) {
    const std::string number = "os error " + std::to_string(error.code);
    const std::string text = error.text();
    const std::string message = os::system_message(error.code);
    if (message.empty()) {
        EXPECT_EQ(text, number);
        return;
    }
    EXPECT_EQ(text, message + " (" + number + ")");
    EXPECT_NE(message.back(), '\n') << "trailing line break kept";
    EXPECT_NE(message.back(), '\r') << "trailing line break kept";
    EXPECT_NE(message.back(), ' ');
}

TEST(OsError, TextIsTheSystemMessageAndTheNumber) {
    auto missing = os::read_file("brq-no-such-folder/no-such-file");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().code, 0);
    EXPECT_FALSE(os::system_message(missing.error().code).empty()) << "file-not-found has a text everywhere";
    expect_rendered(missing.error());
    expect_rendered(os::timeout_error());
    expect_rendered(os::SysError{0x7FFF0123});  // a number no system knows
}

// Thread creation reports the C runtime's errno; on Windows the same number
// means something else to the system (11: "incorrect format").
TEST(OsError, CRuntimeNumbersReadAsTheCRuntimeSaysThem) {
    const os::SysError error = os::c_runtime_error(EAGAIN);
    EXPECT_EQ(error.text(), std::string(std::strerror(EAGAIN)) + " (os error " + std::to_string(EAGAIN) + ")");
    EXPECT_EQ(error.kind(), os::ErrorKind::WouldBlock);
}

TEST(OsError, FixedTextWinsOverTheNumber) {
    EXPECT_EQ((os::SysError{5, "invalid argument"}).text(), "invalid argument");
}

TEST(OsError, TimeoutErrorIsATimeout) {
    EXPECT_TRUE(os::timeout_error().is_timeout());
    EXPECT_FALSE(os::SysError{0}.is_timeout());
    EXPECT_EQ(os::SysError{0}.kind(), os::ErrorKind::Other);
}

}  // namespace
