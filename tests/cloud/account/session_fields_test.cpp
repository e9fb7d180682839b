// How the session reads a dictionary: account names masked by character,
// the avatar under the region's API base, numbers where text is expected,
// and a dictionary that gives no session.

#include <gtest/gtest.h>

#include "cloud/account/account_name_mask.h"
#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

TEST(AccountNameMaskTest, MasksPhoneNumbersAndAddressesAndLeavesTheRest) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"13812345678", "138****5678"},
      {"alice@example.com", "a****@example.com"},
      {"a.b+c@mail.example.co", "a****@mail.example.co"},
      // Any Unicode digits count, and the slices are whole characters.
      {"1٣٨١٢٣٤٥٦٧٨", "1٣٨****٥٦٧٨"},
      {"alice", "alice"},
      {"23812345678", "23812345678"},                        // not a mainland number
      {"138123456789", "138123456789"},                      // twelve digits
      {"1381234567", "1381234567"},                          // ten
      {"１３８１２３４５６７８", "１３８１２３４５６７８"},  // a full-width "1" is not "1"
      {"用户@example.com", "用户@example.com"},              // not an ASCII address
      {"alice@example", "alice@example"},
      {"a@b@example.com", "a@b@example.com"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(maskAccountName(c.text), c.shown) << c.text;
}

class SessionFieldsTest : public AccountFixture {
 protected:
  static Value session(Value::Map userInfo) {
    return Value(Value::Map{{"access_token", "access-1"},
                            {"refresh_token", "refresh-1"},
                            {"token_type", "bearer"},
                            {"clientId", "client"},
                            {"user_id", 10001},
                            {"user_info", Value(std::move(userInfo))}});
  }
  std::string apiBase() const { return service_.root() + "/api"; }

  testing::NotificationLog notices_{{Login::kHeaderImageNotification}};
};

TEST_F(SessionFieldsTest, UserFieldsAreMaskedAndNumbersBecomeText) {
  login_->setUserInfo(
      session({{"username", kPhone}, {"nickName", ""}, {"avatar", ""}, {"phone", 13800000000}}));
  EXPECT_EQ(login_->user_id(), "10001");
  EXPECT_EQ(login_->access_token(), "access-1");
  EXPECT_EQ(login_->refresh_token(), "refresh-1");
  EXPECT_EQ(login_->token_type(), "bearer");
  EXPECT_EQ(login_->clientId(), "client");
  EXPECT_EQ(login_->phone(), kPhone);
  EXPECT_EQ(login_->username(), "138****0000");
  EXPECT_EQ(login_->nickName(), "138****0000") << "an empty nickname shows the account";
  EXPECT_EQ(login_->avatar(), "") << "no picture stays no picture";

  login_->setUserInfo(session(
      {{"username", "bob@example.com"}, {"nickName", "13912345678"}, {"avatar", "/a/1.png"}}));
  EXPECT_EQ(login_->username(), "b****@example.com");
  EXPECT_EQ(login_->nickName(), "139****5678");
  EXPECT_EQ(login_->avatar(), apiBase() + "/a/1.png");
  EXPECT_EQ(login_->phone(), "") << "absent";

  login_->setUserInfo(session({{"username", "bob"}, {"nickName", "Bob"}, {"avatar", "1.png"}}));
  EXPECT_EQ(login_->nickName(), "Bob");
  EXPECT_EQ(login_->avatar(), apiBase() + "1.png") << "no separator is added";
  EXPECT_EQ(notices_.flags(Login::kHeaderImageNotification), (std::vector<bool>{true, true, true}));
}

TEST_F(SessionFieldsTest, ADictionaryWithoutEntriesGivesNoSession) {
  login_->setUserInfo(session({{"username", kPhone}}));
  for (const Value& none : {Value(Value::Map{}), Value(), Value("text")}) {
    login_->setUserInfo(session({{"username", kPhone}}));
    notices_.clear();
    login_->setUserInfo(none);
    for (const auto& field : {login_->clientId(), login_->token_type(), login_->access_token(),
                              login_->refresh_token(), login_->user_id(), login_->username(),
                              login_->nickName(), login_->avatar(), login_->phone()}) {
      EXPECT_FALSE(field.has_value());
    }
    EXPECT_EQ(notices_.flags(Login::kHeaderImageNotification), std::vector<bool>{false});
  }
}

TEST_F(SessionFieldsTest, IsLoginRebuildsFromTheStoreEveryTime) {
  EXPECT_FALSE(login_->isLogin());
  defaults_.setObject("UserDefault_key_orvex_userInfo", session({{"username", kPhone}}));
  EXPECT_TRUE(login_->isLogin());
  EXPECT_EQ(login_->username(), "138****0000");
  EXPECT_EQ(login_->accessToken(), "access-1");

  Value::Map emptyToken = *session({}).asMap();
  emptyToken["access_token"] = "";
  defaults_.setObject("UserDefault_key_orvex_userInfo", Value(emptyToken));
  EXPECT_FALSE(login_->isLogin());
  defaults_.removeObjectForKey("UserDefault_key_orvex_userInfo");
  EXPECT_FALSE(login_->isLogin());
  EXPECT_FALSE(login_->username().has_value());
  EXPECT_EQ(notices_.flags(Login::kHeaderImageNotification),
            (std::vector<bool>{false, true, true, false}));
}

}  // namespace
}  // namespace vistrelle::cloud
