// Passwords: the hashes and their schemes, the cache of verified sign-ins, and
// what the service does with them: a password posted into the user store is
// stored (and journaled) as a hash only, an edit without one keeps the old
// one, a store of clear texts is hashed on disk at start, an older scheme
// becomes yescrypt at the next sign-in, and neither a password nor a hash
// reaches a page or the log.
#include "service/password_hash.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "service/sign_in_cache.h"
#include "tests/service/web_fixture.h"

namespace pelorin::testing {
namespace {

// What an htpasswd file or another server holds for "old secret".
constexpr char kBcrypt[] = "$2b$05$ydvWvXcAfBByJEzD6a5u4uRDnOqL7A8PrtTtt59tTNx/uEy4e5yFC";
constexpr char kBcryptApache[] = "$2y$05$ydvWvXcAfBByJEzD6a5u4uRDnOqL7A8PrtTtt59tTNx/uEy4e5yFC";
constexpr char kSha512[] =
    "$6$NslNgxdMZ00hIclb$sMVTNWYv0vnqkta.11lZrEzH0vqR77GaAPePXY2QGStpnGY7lnbUMS4/hKMWjBCbuI3izNqNNBUz2/x1CaJT/1";
constexpr char kSha256[] = "$5$sKRXNemL.ppe080k$S6e6MPg07fhZKZAZ9Cn708gNTMFGJYKojKYaaNYd.E1";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PasswordHashTest, NewPasswordsAreSaltedYescryptHashesThatVerify) {
  const std::string first = HashPassword("correct horse");
  const std::string second = HashPassword("correct horse");
  EXPECT_TRUE(first.starts_with("$y$")) << first;
  EXPECT_NE(first, second);  // a fresh salt each time
  EXPECT_TRUE(IsPasswordHash(first));
  EXPECT_FALSE(NeedsRehash(first));
  EXPECT_TRUE(VerifyPassword("correct horse", first));
  EXPECT_TRUE(VerifyPassword("correct horse", second));
  for (const char* wrong : {"correct horsE", "correct horse ", "", "correct"}) {
    EXPECT_FALSE(VerifyPassword(wrong, first)) << wrong;
  }
  EXPECT_FALSE(VerifyPassword(std::string("correct horse\0x", 15), first));
  EXPECT_THROW(HashPassword(std::string("a\0b", 3)), std::runtime_error);
}

TEST(PasswordHashTest, HashesBroughtFromOtherServersVerifyAndAskToBeRenewed) {
  for (const char* stored : {kBcrypt, kBcryptApache, kSha512, kSha256}) {
    EXPECT_TRUE(IsPasswordHash(stored)) << stored;
    EXPECT_TRUE(NeedsRehash(stored)) << stored;
    EXPECT_TRUE(VerifyPassword("old secret", stored)) << stored;
    EXPECT_FALSE(VerifyPassword("old secreT", stored)) << stored;
  }
  // A damaged hash verifies nothing, not even its own text.
  std::string damaged = kSha512;
  damaged.resize(20);
  EXPECT_FALSE(VerifyPassword("old secret", damaged));
  EXPECT_FALSE(VerifyPassword("$6$NslNgxdMZ00hIclb$", "$6$NslNgxdMZ00hIclb$"));
}

TEST(PasswordHashTest, ClearTextOfOlderStoresIsComparedExactly) {
  for (const char* clear : {"admin", "$y$", "$2b$05", "it's \"x\""}) {
    EXPECT_FALSE(IsPasswordHash(clear)) << clear;
    EXPECT_TRUE(VerifyPassword(clear, clear)) << clear;
    EXPECT_FALSE(VerifyPassword(std::string(clear) + "!", clear)) << clear;
  }
  EXPECT_FALSE(VerifyPassword("", ""));  // an empty password signs nobody in
  EXPECT_FALSE(ConstantTimeEquals("ab", "abab"));
  EXPECT_FALSE(ConstantTimeEquals("", "a"));
  EXPECT_TRUE(ConstantTimeEquals("", ""));
}

TEST(SignInCacheTest, HoldsAVerifiedPairForItsHashUntilItExpires) {
  TSignInCache cache(std::chrono::minutes(5), 3);
  const auto now = TSignInCache::TClock::now();
  cache.Remember("Bob", "pw", "$y$hash-1", now);
  EXPECT_TRUE(cache.Holds("bob", "pw", "$y$hash-1", now + std::chrono::minutes(4)));
  EXPECT_FALSE(cache.Holds("bob", "pw", "$y$hash-1", now + std::chrono::minutes(5)));
  cache.Remember("bob", "pw", "$y$hash-1", now);
  EXPECT_FALSE(cache.Holds("bob", "pW", "$y$hash-1", now));
  EXPECT_FALSE(cache.Holds("bo", "bpw", "$y$hash-1", now));
  // The password changed: the entry is of the old hash.
  EXPECT_FALSE(cache.Holds("bob", "pw", "$y$hash-2", now));
  cache.Remember("carol", "x", "h", now);
  cache.ForgetUser("BOB");
  EXPECT_FALSE(cache.Holds("bob", "pw", "$y$hash-1", now));
  EXPECT_TRUE(cache.Holds("carol", "x", "h", now));
  // Bounded: a full cache starts afresh instead of growing.
  for (int i = 0; i < 10; ++i) cache.Remember("u" + std::to_string(i), "p", "h", now);
  EXPECT_LE(cache.Size(), 3u);
  cache.ForgetAll();
  EXPECT_EQ(0u, cache.Size());
}

constexpr char kUsersWithOldSchemes[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>Admin-Pass</PASSWORD><NAME>Admin</NAME><ADMIN/></User>"
    "<User><USER>old</USER><PASSWORD>$6$NslNgxdMZ00hIclb$sMVTNWYv0vnqkta.11lZrEzH0vqR77GaAPePXY2QGStpnGY7lnbUMS4/"
    "hKMWjBCbuI3izNqNNBUz2/x1CaJT/1</PASSWORD><NAME>Old</NAME></User>"
    "<User><USER>apache</USER><PASSWORD>$2y$05$ydvWvXcAfBByJEzD6a5u4uRDnOqL7A8PrtTtt59tTNx/uEy4e5yFC</PASSWORD>"
    "<NAME>Apache</NAME></User>"
    "</xUser>";

// The pages of the installed tree, so that what the users pages send can be read.
void CopyInstalledPages(const std::string& app_dir) {
  namespace fs = std::filesystem;
  fs::copy(std::string(PELORIN_SOURCE_DIR) + "/app", app_dir,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

class PasswordServiceTest : public TWebTest {
 protected:
  void SetUp() override {
    CopyInstalledPages(dir_.path());
    WriteStores(kTestConfig, kTestCards, kUsersWithOldSchemes);
    ASSERT_TRUE(Start(std::chrono::hours(1)));
  }
  std::string UsersOnDisk() { return ReadAll(dir_.File("user/user.xml")); }
  std::string UsersInMemory() {
    TStoreGuard guard(service_->StoreLock);
    return service_->UserDom.Dom().SaveToString();
  }
  std::vector<std::string> StoredOf(const std::string& user) {
    TStoreGuard guard(service_->StoreLock);
    return service_->UserDom.StoredPasswordsOf(user);
  }
  // 401 for the challenge (the server writes the status of a realm).
  int Status(const std::string& user, const std::string& password) {
    const ResponseInfo res = Send("GET", "/pelorin/index.htm", "", user, password);
    return res.Realm.empty() ? res.StatusCode : 401;
  }
  ResponseInfo PostUser(const std::string& command, const std::string& xml, const std::string& xpath = "") {
    std::vector<TField> fields = {{"Command", command}, {"XML", xml}, {"Redirect", "index.htm"}};
    if (!xpath.empty()) fields.push_back({"xPath", xpath});
    return Post("/user/index.htm", fields, "admin", "Admin-Pass");
  }
};

TEST_F(PasswordServiceTest, ClearPasswordsOfAnOlderStoreAreHashedOnDiskAtStart) {
  const std::string disk = UsersOnDisk();
  EXPECT_EQ(std::string::npos, disk.find("Admin-Pass")) << disk;
  ASSERT_EQ(1u, StoredOf("admin").size());
  EXPECT_TRUE(StoredOf("admin")[0].starts_with("$y$"));
  EXPECT_NE(std::string::npos, LogText().find("1 clear-text passwords of the user store replaced by their hashes"));
  EXPECT_EQ(200, Status("ADMIN", "Admin-Pass"));
  EXPECT_EQ(401, Status("admin", "admin-pass"));
}

TEST_F(PasswordServiceTest, OlderSchemesSignInAndBecomeYescrypt) {
  for (const char* user : {"old", "apache"}) {
    EXPECT_EQ(401, Status(user, "old secreT")) << user;
    EXPECT_FALSE(StoredOf(user)[0].starts_with("$y$")) << user;
    EXPECT_EQ(200, Status(user, "old secret")) << user;
    ASSERT_EQ(1u, StoredOf(user).size());
    EXPECT_TRUE(StoredOf(user)[0].starts_with("$y$")) << user;
    EXPECT_EQ(200, Status(user, "old secret")) << user;
  }
  EXPECT_TRUE(TimerEnabled());  // the new hashes reach the file with the next save
}

TEST_F(PasswordServiceTest, APostedPasswordIsStoredAndJournaledOnlyAsItsHash) {
  ASSERT_EQ(302, PostUser("insert", "<User><USER>carol</USER><PASSWORD>Carol's pw</PASSWORD><NAME>C</NAME></User>")
                     .StatusCode);
  ASSERT_EQ(1u, StoredOf("carol").size());
  EXPECT_TRUE(StoredOf("carol")[0].starts_with("$y$"));
  EXPECT_EQ(std::string::npos, UsersInMemory().find("Carol's pw"));
  const std::string journal = ReadAll(dir_.File("journal/changes"));
  EXPECT_EQ(std::string::npos, journal.find("Carol's pw"));
  EXPECT_NE(std::string::npos, journal.find(StoredOf("carol")[0]));
  EXPECT_EQ(200, Status("carol", "Carol's pw"));

  // A crash: the restart replays the entry, and the hash is the same one.
  const std::string hash = StoredOf("carol")[0];
  service_.reset();
  ASSERT_TRUE(Start(std::chrono::hours(1)));
  ASSERT_EQ(1u, StoredOf("carol").size());
  EXPECT_EQ(hash, StoredOf("carol")[0]);
  EXPECT_EQ(200, Status("carol", "Carol's pw"));
}

TEST_F(PasswordServiceTest, AnEditWithoutAPasswordKeepsItAndOneWithAPasswordReplacesIt) {
  const std::string xpath = "xUser/User[USER='old']";
  const std::string before = StoredOf("old")[0];
  ASSERT_EQ(302, PostUser("edit", "<User><USER>old</USER><NAME>Renamed</NAME></User>", xpath).StatusCode);
  EXPECT_EQ(std::vector<std::string>{before}, StoredOf("old"));
  ASSERT_EQ(302, PostUser("edit", "<User><USER>old</USER><PASSWORD></PASSWORD><NAME>Again</NAME></User>", xpath)
                     .StatusCode);
  EXPECT_EQ(std::vector<std::string>{before}, StoredOf("old"));
  EXPECT_EQ(200, Status("old", "old secret"));

  // Signed in a moment ago with the old password, which no longer counts.
  ASSERT_EQ(302, PostUser("edit", "<User><USER>old</USER><PASSWORD>new one</PASSWORD><NAME>N</NAME></User>", xpath)
                     .StatusCode);
  ASSERT_EQ(1u, StoredOf("old").size());
  EXPECT_TRUE(StoredOf("old")[0].starts_with("$y$"));
  EXPECT_EQ(401, Status("old", "old secret"));
  EXPECT_EQ(200, Status("old", "new one"));
  // A PASSWORD posted as a hash is taken as a password like any other.
  ASSERT_EQ(302, PostUser("edit", "<User><USER>old</USER><PASSWORD>" + before + "</PASSWORD></User>", xpath)
                     .StatusCode);
  EXPECT_NE(before, StoredOf("old")[0]);
  EXPECT_EQ(200, Status("old", before));
}

TEST_F(PasswordServiceTest, ALogoutEndsTheCachedSignInToo) {
  EXPECT_EQ(200, Status("apache", "old secret"));
  EXPECT_EQ(302, Send("GET", "/logout", "", "apache", "old secret").StatusCode);
  // The next request meets the logout marker, which a cached sign-in must not skip.
  EXPECT_EQ(401, Status("apache", "old secret"));  // the marker, once
  EXPECT_EQ(200, Status("apache", "old secret"));
}

TEST_F(PasswordServiceTest, NoPasswordOrHashReachesThePagesOrTheLog) {
  EXPECT_EQ(401, Status("apache", "Wrong-Guess-1"));
  EXPECT_EQ(200, Status("apache", "old secret"));
  std::vector<std::string> secrets = {"Wrong-Guess-1", "old secret", "Admin-Pass"};
  for (const char* user : {"admin", "old", "apache"}) secrets.push_back(StoredOf(user)[0]);
  std::string pages;
  for (const char* page : {"/user/index.htm", "/user/edit.htm?LOGIN=apache", "/user/edit.htm?LOGIN=admin"}) {
    const ResponseInfo res = Send("GET", page, "", "admin", "Admin-Pass");
    EXPECT_EQ(200, res.StatusCode) << page;
    pages += res.Body;
  }
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("User (apache/********) check failed."));
  for (const std::string& secret : secrets) {
    EXPECT_EQ(std::string::npos, pages.find(secret)) << secret;
    EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
  }
}

class FirstRunPasswordTest : public TWebTest {
 protected:
  void SetUp() override {
    // The installed tree with its first-run stores: the account admin/admin.
    CopyInstalledPages(dir_.path());
    WriteFile(dir_.File("config/config.xml"), kTestConfig);
    ASSERT_TRUE(Start(std::chrono::hours(1)));
  }
};

TEST_F(FirstRunPasswordTest, PagesAskToChangeTheFirstRunPasswordUntilItIsChanged) {
  constexpr char kNotice[] = "still has the password it was installed with";
  const ResponseInfo first = Send("GET", "/pelorin/index.htm", "", "admin", "admin");
  ASSERT_EQ(200, first.StatusCode) << first.Body;
  EXPECT_NE(std::string::npos, first.Body.find(kNotice));
  // The first-run store is written only by a save, as before.
  EXPECT_FALSE(std::filesystem::exists(dir_.File("user/user.xml")));
  ASSERT_EQ(302, Post("/user/index.htm",
                      {{"Command", "edit"}, {"xPath", "xUser/User[USER='admin']"},
                       {"XML", "<User><USER>admin</USER><PASSWORD>a better one</PASSWORD><ADMIN/></User>"},
                       {"Redirect", "index.htm"}},
                      "admin", "admin")
                     .StatusCode);
  EXPECT_FALSE(Send("GET", "/pelorin/index.htm", "", "admin", "admin").Realm.empty());
  const ResponseInfo after = Send("GET", "/pelorin/index.htm", "", "admin", "a better one");
  ASSERT_EQ(200, after.StatusCode);
  EXPECT_EQ(std::string::npos, after.Body.find(kNotice));
}

}  // namespace
}  // namespace pelorin::testing
