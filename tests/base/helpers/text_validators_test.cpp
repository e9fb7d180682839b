#include "base/helpers/text_validators.h"

#include <gtest/gtest.h>

namespace vistrelle::base {
namespace {

struct ValidatorCase {
  const char* text;
  bool phone;
  bool email;
  bool unicodeEmail;
};

class ValidatorsTest : public ::testing::TestWithParam<ValidatorCase> {};

TEST_P(ValidatorsTest, Classify) {
  const ValidatorCase& c = GetParam();
  EXPECT_EQ(isPhoneNumber(c.text), c.phone);
  EXPECT_EQ(isEmail(c.text), c.email);
  EXPECT_EQ(isValidEmailUnicode(c.text), c.unicodeEmail);
  EXPECT_EQ(isPhoneOrEmail(c.text), c.phone || c.email);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ValidatorsTest,
    ::testing::Values(ValidatorCase{"13800138000", true, false, false},
                      ValidatorCase{"23800138000", false, false, false},   // starts with 2
                      ValidatorCase{"1380013800", false, false, false},    // 10 digits
                      ValidatorCase{"138001380001", false, false, false},  // 12 digits
                      ValidatorCase{"13800138000\n", false, false, false},
                      ValidatorCase{" 13800138000", false, false, false},
                      // "\d" keeps its Unicode meaning: Arabic-Indic and full-width digits.
                      ValidatorCase{"1\u0663\u0668\u0660\u0660\u0661\u0663\u0668\u0660\u0660\u0660",
                                    true, false, false},
                      ValidatorCase{"1\uff13\uff18\uff10\uff10\uff11\uff13\uff18\uff10\uff10\uff10",
                                    true, false, false},
                      ValidatorCase{"user.name+tag@example.com", false, true, true},
                      ValidatorCase{"a_b%c@mail.example.cn", false, true, true},
                      ValidatorCase{"user@example.c", false, false, false},
                      ValidatorCase{"user@@example.com", false, false, false},
                      ValidatorCase{"user@example", false, false, false},
                      ValidatorCase{"user@example.com\n", false, false, false},
                      ValidatorCase{"用户@例子.中国", false, false, true},
                      ValidatorCase{"José.Núñez@correo.españa", false, false, true},
                      ValidatorCase{"user@-example.com", false, true, false},
                      ValidatorCase{".user@example.com", false, true, false},
                      ValidatorCase{"user@exa mple.com", false, false, false},
                      ValidatorCase{"\xff@example.com", false, false, false},
                      ValidatorCase{"", false, false, false}));

TEST(MatchesRegex, MatchesTheWholeText) {
  EXPECT_TRUE(matchesRegex("abc123", "[a-z]+\\d+"));
  EXPECT_FALSE(matchesRegex("abc123x", "[a-z]+\\d+"));
  EXPECT_FALSE(matchesRegex("1abc123", "[a-z]+\\d+"));
  EXPECT_TRUE(matchesRegex("Ünïcödé", "\\w+"));
  EXPECT_TRUE(matchesRegex("眼镜", "[[:alpha:]]{2}"));
}

TEST(MatchesRegex, BadPatternIsAnError) {
  EXPECT_THROW(matchesRegex("text", "(unclosed"), std::invalid_argument);
  EXPECT_THROW(matchesRegex("text", "[z-a]"), std::invalid_argument);
}

}  // namespace
}  // namespace vistrelle::base
