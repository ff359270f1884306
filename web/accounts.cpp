// Accounts and access: the sign-in check against the user store, the one-shot
// logout marker and the administrator areas. Operations of the service module,
// run on a request thread while the dispatcher holds StoreLock.
#include "service/vcard_main.h"

#include <string>
#include <string_view>

namespace pelorin {
namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// An XPath 1.0 string literal that stands for `text` whatever it holds. XPath has
// no escapes: a text without double quotes goes between them, one without single
// quotes between those, and a text with both is joined with concat() from pieces
// free of double quotes and the double quotes themselves.
std::string XPathLiteral(const std::string& text) {
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  std::string joined = "concat(";
  std::size_t start = 0;
  bool first = true;
  const auto add = [&](const std::string& literal) {
    if (!first) joined += ',';
    joined += literal;
    first = false;
  };
  while (true) {
    const std::size_t quote = text.find('"', start);
    const std::string piece = text.substr(start, quote == std::string::npos ? std::string::npos : quote - start);
    if (!piece.empty()) add("\"" + piece + "\"");
    if (quote == std::string::npos) break;
    add("'\"'");
    start = quote + 1;
  }
  return joined + ")";
}

// The accounts whose PASSWORD text is exactly `password`. No stored text holds a
// NUL byte, and the expression could not carry one, so such a password selects
// nothing (the empty expression matches nothing).
std::string AccountXPath(const std::string& password) {
  if (password.find('\0') != std::string::npos) return {};
  return "xUser/User[PASSWORD=" + XPathLiteral(password) + "]";
}

}  // namespace

bool TPelorinService::CheckUser(const std::string& user, const std::string& password, bool& is_admin,
                                std::string& display_name) {
  return CheckAccount(user, password, is_admin, display_name) == TAccountCheck::Accepted;
}

TPelorinService::TAccountCheck TPelorinService::CheckAccount(const std::string& user, const std::string& password,
                                                             bool& is_admin, std::string& display_name) {
  display_name.clear();
  bool found = false;
  const std::string xpath = AccountXPath(password);
  const std::string wanted = LowerAscii(user);
  // Every matching record is visited: with duplicates the last one's name and
  // rights win, and the first one marked as logged out ends the check.
  for (bool more = UserDom.Dom().SelectNode(xpath); more; more = UserDom.Dom().SelectNextNode(xpath)) {
    if (!UserDom.Dom().SelectFirstChild()) continue;
    if (LowerAscii(UserDom.Dom().GetSiblingText("USER")) == wanted) {
      found = true;
      display_name = UserDom.Dom().GetSiblingText("NAME");
      is_admin = UserDom.Dom().SelectSibling("ADMIN");
      if (UserDom.Dom().SelectSibling("LOGOUT")) {
        UserDom.Dom().RemoveCurrent();  // the marker fails this one check only
        return TAccountCheck::LoggedOut;
      }
    }
    UserDom.Dom().SelectParent();
  }
  // The password never reaches the log: a log file must not hold secrets.
  if (!found && !user.empty() && !password.empty()) WriteLog("User (" + user + "/********) check failed.");
  return found ? TAccountCheck::Accepted : TAccountCheck::Refused;
}

// The marker lives in memory and reaches the file with the next save; it arms no
// save of its own.
void TPelorinService::LogoutUser(const std::string& user, const std::string& password) {
  const std::string xpath = AccountXPath(password);
  const std::string wanted = LowerAscii(user);
  for (bool more = UserDom.Dom().SelectNode(xpath); more; more = UserDom.Dom().SelectNextNode(xpath)) {
    if (!UserDom.Dom().SelectFirstChild()) continue;
    if (LowerAscii(UserDom.Dom().GetSiblingText("USER")) == wanted && !UserDom.Dom().SelectSibling("LOGOUT")) {
      UserDom.Dom().AddSibling("LOGOUT");
    }
    UserDom.Dom().SelectParent();
  }
}

// A case-sensitive prefix test on the path as received: "/users.htm" and
// "/configuration" are administrator areas too, "/User/" is not.
bool TPelorinService::CheckAdminArea(bool is_admin, const std::string& path) {
  if (is_admin) return true;
  return !path.starts_with("/user") && !path.starts_with("/config");
}

}  // namespace pelorin
