// Sign-in check, logout marker and administrator areas, against a user store with
// near misses: letter case, quotes of both kinds, duplicates, missing elements.
#include <string>

#include <gtest/gtest.h>

#include "service/vcard_main.h"
#include "tests/service/service_fixture.h"

namespace pelorin::testing {
namespace {

class AccountsTest : public TServiceTest {
 protected:
  void SetUp() override {
    WriteStores();
    ASSERT_TRUE(Start());
  }

  struct TCheck {
    bool found;
    bool is_admin;
    std::string name;
  };
  TCheck Check(const std::string& user, const std::string& password, bool preset_admin = false) {
    TStoreGuard guard(service_->StoreLock);
    TCheck result{false, preset_admin, "stale"};
    result.found = service_->CheckUser(user, password, result.is_admin, result.name);
    return result;
  }
  void Logout(const std::string& user, const std::string& password) {
    TStoreGuard guard(service_->StoreLock);
    service_->LogoutUser(user, password);
  }
};

TEST_F(AccountsTest, CheckUserSelectsByExactPasswordAndAnyCaseName) {
  const struct {
    const char* user;
    std::string password;
    bool found;
    bool is_admin;
    const char* name;
  } cases[] = {
      {"Alice", "Secret1", true, true, "Alice A"},  // ADMIN holding "no" still grants rights
      {"ALICE", "Secret1", true, true, "Alice A"},
      {"alice", "secret1", false, false, ""},  // the password's case counts
      {"alice", "Secret1 ", false, false, ""},
      {"alice", "Secret", false, false, ""},
      {"alicе", "Secret1", false, false, ""},  // Cyrillic e: only ASCII letters fold
      {"bob", "pw", true, false, "Bob B"},
      {"bob", "Secret1", false, false, ""},  // another account's password
      {"alice", "pw", false, false, ""},
      {"", "nouser", true, false, "Anonymous"},  // a record without USER matches an empty name
      {"x", "nouser", false, false, ""},
      {"dup", "same", true, true, "Second"},  // every match is visited: the last one wins
  };
  for (const auto& c : cases) {
    const TCheck got = Check(c.user, c.password);
    EXPECT_EQ(c.found, got.found) << c.user << "/" << c.password;
    EXPECT_EQ(c.is_admin, got.is_admin) << c.user << "/" << c.password;
    EXPECT_EQ(c.name, got.name) << c.user << "/" << c.password;
  }
}

TEST_F(AccountsTest, PasswordStaysALiteralWhateverItHolds) {
  const struct {
    const char* user;
    std::string password;
    bool found;
  } cases[] = {
      {"quote", "a\"b", true},
      {"quote", "a", false},
      {"quote", "a\"", false},
      {"quote", "a'b", false},
      {"both", "it's \"x\"", true},
      {"both", "it's \"x", false},
      {"both", "its \"x\"", false},
      {"both", "it's 'x'", false},
      // Attempts to change which records are selected.
      {"bob", "x\" or \"a\"=\"a", false},
      {"bob", "x' or 'a'='a", false},
      {"bob", "x\"] | //User[\"", false},
      {"bob", "\"] | xUser/User[\"'", false},
      {"bob", "') or ('\"'=\"\"", false},
      {"bob", std::string("pw\0", 3), false},
      {"bob", std::string("p\0w", 3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.found, Check(c.user, c.password).found) << c.password;
}

TEST_F(AccountsTest, FailedCheckClearsNameAndKeepsPresetFlag) {
  const TCheck got = Check("bob", "wrong", /*preset_admin=*/true);
  EXPECT_FALSE(got.found);
  EXPECT_EQ("", got.name);
  EXPECT_TRUE(got.is_admin);  // written only when a record matches
}

TEST_F(AccountsTest, FailedSignInIsLoggedWithoutThePassword) {
  EXPECT_FALSE(Check("bob", "Hunter2").found);
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find(": User (bob/********) check failed.\r\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("Hunter2")) << log;
}

TEST_F(AccountsTest, FailedCheckWithOnlyOneCredentialIsNotLogged) {
  EXPECT_FALSE(Check("bob", "").found);
  EXPECT_FALSE(Check("", "nosuch").found);
  EXPECT_EQ(std::string::npos, LogText().find("check failed"));
}

TEST_F(AccountsTest, LogoutRefusesExactlyOneFollowingCheck) {
  Logout("BOB", "pw");
  EXPECT_FALSE(Check("bob", "pw").found);
  EXPECT_TRUE(Check("bob", "pw").found);
  EXPECT_TRUE(Check("bob", "pw").found);
  // The refusal that the marker causes is not a failed sign-in.
  EXPECT_EQ(std::string::npos, LogText().find("check failed"));
}

TEST_F(AccountsTest, SecondLogoutAddsNoSecondMarker) {
  Logout("bob", "pw");
  Logout("bob", "pw");
  const std::string users = UserStoreText();
  const auto first = users.find("<LOGOUT/>");
  ASSERT_NE(std::string::npos, first);
  EXPECT_EQ(std::string::npos, users.find("<LOGOUT/>", first + 1));
  EXPECT_FALSE(Check("bob", "pw").found);
  EXPECT_TRUE(Check("bob", "pw").found);
}

TEST_F(AccountsTest, LogoutWithWrongCredentialsMarksNothing) {
  Logout("bob", "PW");
  Logout("alice", "pw");
  Logout("nobody", "Secret1");
  EXPECT_EQ(std::string::npos, UserStoreText().find("LOGOUT"));
  EXPECT_TRUE(Check("bob", "pw").found);
  EXPECT_TRUE(Check("alice", "Secret1").found);
}

TEST_F(AccountsTest, LogoutMarksOnlyTheMatchingAccount) {
  Logout("alice", "Secret1");
  EXPECT_TRUE(Check("bob", "pw").found);
  EXPECT_FALSE(Check("alice", "Secret1").found);
  EXPECT_TRUE(Check("alice", "Secret1").found);
}

TEST_F(AccountsTest, LogoutArmsNoSave) {
  Logout("bob", "pw");
  TStoreGuard guard(service_->StoreLock);
  EXPECT_FALSE(service_->SaveTimer.Enabled());
}

TEST(CheckAdminAreaTest, PrefixesOfTheAdministratorAreas) {
  const struct {
    const char* path;
    bool open_to_users;
  } cases[] = {
      {"/config/index.htm", false}, {"/user/index.htm", false}, {"/users", false},     {"/configx", false},
      {"/user", false},             {"/config", false},         {"/users.htm", false}, {"/User/", true},
      {"/CONFIG/a.htm", true},      {"/pelorin/index.htm", true}, {"/", true},         {"/x/user/a", true},
      {"", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.open_to_users, TPelorinService::CheckAdminArea(false, c.path)) << c.path;
    EXPECT_TRUE(TPelorinService::CheckAdminArea(true, c.path)) << c.path;
  }
}

}  // namespace
}  // namespace pelorin::testing
