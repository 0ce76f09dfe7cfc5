#include "common/digits.h"

#include <gtest/gtest.h>

using tftp::LeadingDigits;

TEST(LeadingDigits, ReadsDigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(LeadingDigits("21x"), 21);
    EXPECT_EQ(LeadingDigits("x21"), 0);
    EXPECT_EQ(LeadingDigits(""), 0);
    EXPECT_EQ(LeadingDigits("069"), 69);
    EXPECT_EQ(LeadingDigits("5s"), 5);
    EXPECT_EQ(LeadingDigits("70000"), 70000);
    EXPECT_EQ(LeadingDigits(" 5"), 0);
}

TEST(LeadingDigits, TooLongForAnIntSaturates) {
    EXPECT_EQ(LeadingDigits("2147483647"), 2147483647);
    EXPECT_EQ(LeadingDigits("2147483648"), 2147483647);
    EXPECT_EQ(LeadingDigits("99999999999999999999999999"), 2147483647);
}
