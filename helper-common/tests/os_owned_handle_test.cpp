// The one owner of platform resources: each resource is let go exactly once,
// whichever way its ownership travels.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "os/owned_handle.hpp"

namespace {

std::vector<int> g_closed;  // the values closed, in order

// Like Windows handles, with two values that mean "none" (0 and -1).
struct RecordingTraits {
    using Value = int;
    static constexpr int EMPTY = 0;
    static bool is_valid(int value) noexcept { return value > 0; }
    static void close(int value) noexcept { g_closed.push_back(value); }
};
using Owned = os::OwnedHandle<RecordingTraits>;

TEST(OwnedHandle, LetsGoOfEachResourceOnce) {
    g_closed.clear();
    {
        const Owned failed(-1);
        EXPECT_FALSE(failed) << "a failure value is kept as the empty one";
        EXPECT_EQ(failed.get(), 0);

        Owned first(1);
        Owned second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), 1);
        Owned third(3);
        third = std::move(second);
        EXPECT_EQ(g_closed, std::vector<int>{3}) << "the one replaced";
        third.reset(4);
        const int handed_out = third.release();
        EXPECT_EQ(handed_out, 4);
        EXPECT_FALSE(third);
        Owned fifth(5);
        fifth.reset(-1);
    }
    EXPECT_EQ(g_closed, (std::vector<int>{3, 1, 5})) << "released ones and empty ones are never closed";
}

}  // namespace
