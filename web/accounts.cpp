// Accounts and access: the sign-in check against the user store, the one-shot
// logout marker and the administrator areas. Operations of the service module,
// run on a request thread while the dispatcher holds StoreLock.
#include "service/vcard_main.h"

#include <algorithm>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "service/password_hash.h"
#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

constexpr char kAccountsXPath[] = "xUser/User";

// Whether the account record at `record` is named `wanted` (lower-cased); if
// so, `stored` gets its PASSWORD texts. The cursor is back on the record.
bool IsAccountNamed(TQuickDom& dom, TNodeRef record, const std::string& wanted, std::vector<std::string>& stored) {
  stored.clear();
  const bool named = dom.SelectFirstChild() && LowerAscii(dom.GetSiblingText("USER")) == wanted;
  if (named) {
    for (bool next = dom.SelectSibling("PASSWORD"); next; next = dom.SelectNextSibling("PASSWORD")) {
      stored.push_back(dom.GetText());
    }
  }
  dom.SetCurrentNode(record);
  return named;
}

}  // namespace

bool TPelorinService::PasswordMatches(const std::string& user, const std::string& password, const std::string& stored,
                                      const TSignInProof* proof) {
  if (proof != nullptr) {
    for (const auto& [checked, verified] : proof->Verdicts) {
      if (checked == stored) return verified;
    }
  }
  const auto now = TSignInCache::TClock::now();
  if (SignInCache.Holds(user, password, stored, now)) return true;
  // The account changed since the proof was made: checked here, once.
  if (!VerifyPassword(password, stored)) return false;
  SignInCache.Remember(user, password, stored, now);
  return true;
}

TSignInProof TPelorinService::ProveSignIn(const std::string& user, const std::string& password,
                                          const std::vector<std::string>& stored) {
  TSignInProof proof;
  const auto now = TSignInCache::TClock::now();
  if (stored.empty() && !password.empty()) {
    // No such account: the same check is made against a hash of nothing, so
    // that the time of the answer does not tell which names exist.
    static const std::string kNobody = HashPassword("no account has this password");
    (void)VerifyPassword(password, kNobody);
  }
  for (const std::string& hash : stored) {
    bool verified = SignInCache.Holds(user, password, hash, now);
    if (!verified && VerifyPassword(password, hash)) {
      verified = true;
      SignInCache.Remember(user, password, hash, now);
    }
    proof.Verdicts.emplace_back(hash, verified);
    if (verified && !hash.starts_with("$y$") && proof.Rehash.empty()) proof.Rehash = HashPassword(password);
  }
  return proof;
}

bool TPelorinService::CheckUser(const std::string& user, const std::string& password, bool& is_admin,
                                std::string& display_name) {
  return CheckAccount(user, password, is_admin, display_name) == TAccountCheck::Accepted;
}

TPelorinService::TAccountCheck TPelorinService::CheckAccount(const std::string& user, const std::string& password,
                                                             bool& is_admin, std::string& display_name,
                                                             const TSignInProof* proof) {
  display_name.clear();
  bool found = false;
  std::string upgrade;  // a verified hash of an older scheme, or a clear text
  const std::string wanted = LowerAscii(user);
  TQuickDom& dom = UserDom.Dom();
  // Every account of that name whose password matches is visited: with
  // duplicates the last one's name and rights win, and the first one marked as
  // logged out ends the check.
  std::vector<std::string> stored;
  for (bool more = !password.empty() && dom.SelectNode(kAccountsXPath); more; more = dom.SelectNextNode(kAccountsXPath)) {
    const TNodeRef record = dom.CurrentNode();
    if (!IsAccountNamed(dom, record, wanted, stored)) continue;
    const auto matching = std::find_if(stored.begin(), stored.end(), [&](const std::string& hash) {
      return PasswordMatches(user, password, hash, proof);
    });
    if (matching == stored.end()) continue;
    found = true;
    if (!matching->starts_with("$y$")) upgrade = *matching;
    dom.SelectFirstChild();
    display_name = dom.GetSiblingText("NAME");
    is_admin = dom.SelectSibling("ADMIN");
    dom.SetCurrentNode(record);
    dom.SelectFirstChild();
    if (dom.SelectSibling("LOGOUT")) {
      dom.RemoveCurrent();  // the marker fails this one check only
      return TAccountCheck::LoggedOut;
    }
    dom.SetCurrentNode(record);
  }
  // The password never reaches the log: a log file must not hold secrets.
  if (!found && !user.empty() && !password.empty()) WriteLog("User (" + user + "/********) check failed.");
  if (found && !upgrade.empty()) {
    // An older scheme verified: the account gets a yescrypt hash from now on.
    try {
      const std::string hash = proof != nullptr && !proof->Rehash.empty() ? proof->Rehash : HashPassword(password);
      UserDom.UpgradePassword(user, upgrade, hash);
      SaveTimer.SetEnabled(true);
    } catch (const std::exception& e) {
      WriteLog(std::string("The password hash of a user could not be renewed: ") + e.what());
    }
  }
  return found ? TAccountCheck::Accepted : TAccountCheck::Refused;
}

// The marker lives in memory and reaches the file with the next save; it arms no
// save of its own. The cache forgets the user, so the next request is checked
// in full and meets the marker.
void TPelorinService::LogoutUser(const std::string& user, const std::string& password, const TSignInProof* proof) {
  const std::string wanted = LowerAscii(user);
  TQuickDom& dom = UserDom.Dom();
  std::vector<std::string> stored;
  for (bool more = !password.empty() && dom.SelectNode(kAccountsXPath); more; more = dom.SelectNextNode(kAccountsXPath)) {
    const TNodeRef record = dom.CurrentNode();
    if (!IsAccountNamed(dom, record, wanted, stored)) continue;
    const bool matches = std::any_of(stored.begin(), stored.end(), [&](const std::string& hash) {
      return PasswordMatches(user, password, hash, proof);
    });
    if (matches && dom.SelectFirstChild() && !dom.SelectSibling("LOGOUT")) {
      dom.SetCurrentNode(record);
      dom.AddChild("LOGOUT");
    }
    dom.SetCurrentNode(record);
  }
  SignInCache.ForgetUser(user);
}

// A case-sensitive prefix test on the path as received: "/users.htm" and
// "/configuration" are administrator areas too, "/User/" is not.
bool TPelorinService::CheckAdminArea(bool is_admin, const std::string& path) {
  if (is_admin) return true;
  return !path.starts_with("/user") && !path.starts_with("/config");
}

}  // namespace pelorin
