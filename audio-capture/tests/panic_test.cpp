// The panic report, in a child process as it really happens: one "PANIC: "
// record in the log, then the platform's fail-fast exit.

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <stdexcept>
#include <thread>

#include "log.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/time.hpp"
#include "panic.hpp"
#include "support/program_run.hpp"
#include "support/scoped_env.hpp"

namespace {

#ifdef _WIN32
// __fastfail(7) ends the process with STATUS_STACK_BUFFER_OVERRUN.
const auto FAIL_FAST = ::testing::ExitedWithCode(static_cast<int>(0xC0000409));
#else
const auto FAIL_FAST = ::testing::KilledBySignal(SIGABRT);
#endif

// Ends a death-test child that is still running after the bound, with a
// status no expectation accepts: a hang fails the test instead of stalling it.
constexpr int HUNG_STATUS = 99;
void end_child_if_hung(std::chrono::seconds bound) {
    std::thread([bound] {
        os::sleep_until(std::chrono::steady_clock::now() + bound);
        os::exit_process(HUNG_STATUS);
    }).detach();
}

// The death-test child runs the test again from the start; it must write to
// the log the parent reads, so the parent's choice travels in the environment.
class PanicReport : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        if (auto inherited = os::get_env(PARENT_LOG)) {
            log_path_ = *inherited;
            return;
        }
        folder_.emplace();
        log_path_ = folder_->file("audio.log");
        parent_log_.emplace(PARENT_LOG, log_path_);
        log_env_.emplace("QUORVEL_AUDIO_LOG", log_path_);
    }

    [[nodiscard]] std::vector<test_support::LogRecord> records() const {
        return test_support::parse_log(os::read_file(log_path_).value_or(""));
    }

    static constexpr const char* PARENT_LOG = "BRQ_PANIC_TEST_LOG";
    std::optional<test_support::TempDir> folder_;
    std::string log_path_;
    std::optional<test_support::ScopedEnv> parent_log_;
    std::optional<test_support::ScopedEnv> log_env_;
};

TEST_F(PanicReport, PanicWritesOneRecordWithLocationAndMessageThenFailsFast) {
    EXPECT_EXIT(
        {
            audio::init_log();
            common::panic("failed to spawn thread");
        },
        FAIL_FAST, "");
    const auto logged = records();
    ASSERT_EQ(logged.size(), 1u);
    const std::string& message = logged[0].message;
    EXPECT_TRUE(message.starts_with("PANIC: panicked at ")) << message;
    EXPECT_TRUE(message.find("panic_test.cpp:") != std::string::npos) << message;
    EXPECT_TRUE(message.ends_with(":\nfailed to spawn thread")) << message;
}

TEST_F(PanicReport, UncaughtExceptionIsReportedWithItsText) {
    EXPECT_EXIT(
        {
            audio::init_log();
            try {
                throw std::runtime_error("algo quebrou");
            } catch (...) {
                std::terminate();
            }
        },
        FAIL_FAST, "");
    const auto logged = records();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_TRUE(logged[0].message.starts_with("PANIC: panicked at ")) << logged[0].message;
    EXPECT_TRUE(logged[0].message.ends_with(":\nalgo quebrou")) << logged[0].message;
}

TEST_F(PanicReport, PayloadThatIsNotTextEndsAfterTheLocation) {
    EXPECT_EXIT(
        {
            audio::init_log();
            try {
                throw 42;
            } catch (...) {
                std::terminate();
            }
        },
        FAIL_FAST, "");
    const auto logged = records();
    ASSERT_EQ(logged.size(), 1u);
    const std::string& message = logged[0].message;
    EXPECT_TRUE(message.starts_with("PANIC: panicked at ")) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_NE(message.back(), ':') << message;
}

// The writer fails while it holds the log lock: the record is longer than a
// string can be, and no frame of the thread handles the exception, so the
// terminate handler runs with the lock still held. Its report cannot be
// written and is skipped; the process must still fail fast, not wait for its
// own lock.
TEST_F(PanicReport, PanicInsideTheLogWriterStillFailsFast) {
    EXPECT_EXIT(
        {
            audio::init_log();
            end_child_if_hung(std::chrono::seconds(20));
            static const char byte = 'x';
            std::thread writer([] { audio::log_line(std::string_view(&byte, std::numeric_limits<std::size_t>::max() / 2)); });
            writer.join();
        },
        FAIL_FAST, "")
        << "status " << HUNG_STATUS << " means the child was still running after 20 s";
    EXPECT_TRUE(records().empty());
}

}  // namespace
