#include <gtest/gtest.h>

#include <string>

#include "token.hpp"

namespace {

TEST(TokenRule, LengthAndCharacters) {
    const struct {
        std::string token;
        bool valid;
    } cases[] = {
        {std::string(16, 'a'), true},
        {std::string(128, 'Z'), true},
        {"Az09_-Az09_-Az09", true},
        {std::string(15, 'a'), false},
        {std::string(129, 'a'), false},
        {"abcdefghijklmnopqrsé", false},
        {"abcdefghij.klmnopqrs", false},
        {"abcdefghij klmnopqrs", false},
        {" abcdefghijklmnopqrs", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::validate_token(c.token).has_value(), c.valid) << c.token;
    }
}

}  // namespace
