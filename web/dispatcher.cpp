// HTTPServerCommandGet: the one entry point of the web application, an operation
// of the service module run on each connection's thread. It holds StoreLock for
// the whole request, checks the credentials and the area, then routes the request.
#include "service/vcard_main.h"

#include "web/request_route.h"

#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "web/client_address.h"
#include "web/request_reader.h"

namespace pelorin {
namespace {

constexpr char kPelorinIndex[] = "../pelorin/index.htm";
// After an answer this large the heap is trimmed (see below).
constexpr std::size_t kTrimAfterBodyBytes = 1u << 20;
constexpr char kUserIndex[] = "../user/index.htm";
constexpr char kConfigIndex[] = "../config/index.htm";
constexpr std::size_t kMaxDomainName = 255;
constexpr char kCardCacheLine[] = "Cache-Control: max-age=0";
constexpr char kAccountCacheLine[] = "Cache-Control: no-store";

// The user and configuration areas show account data (passwords, names, the
// server's settings), and so do their redirects and failure messages. "no-store"
// keeps the browser's cache and any proxy from writing such an answer down at all,
// where "max-age=0" only had them ask again before showing a kept copy. With
// no-store, max-age=0 would say nothing more, so it is replaced rather than added.
// The card pages keep max-age=0: browsers may then keep them for the back button.
// The rule follows the stores: the areas are the paths StoreForPath gives them.
const char* CacheLineFor(const std::string& path) {
  return path.starts_with("/user/") || path.starts_with("/config/") ? kAccountCacheLine : kCardCacheLine;
}

// Leading and trailing bytes below 33 (space and control characters) go.
std::string TrimCredential(std::string_view text) {
  const auto is_kept = [](char c) { return static_cast<unsigned char>(c) > 32; };
  std::size_t first = 0;
  while (first < text.size() && !is_kept(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && !is_kept(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

// A ".." segment would lead a file or stylesheet name out of the application's tree.
bool HasParentSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (path.substr(start, slash - start) == "..") return true;
    start = slash + 1;
  }
  return false;
}

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == ':' || c == '[' || c == ']';
}

// The host the client asked for, without its port. The name is echoed in an HTML
// body, so anything that is not plainly a host name gives the product name instead.
std::string WebDomainName(std::string_view host) {
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close != std::string_view::npos) host = host.substr(0, close + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  if (host.empty() || host.size() > kMaxDomainName) return "Pelorin";
  for (const char c : host) {
    if (!IsHostCharacter(c)) return "Pelorin";
  }
  return std::string(host);
}

void AskForAccount(const RequestInfo& req, ResponseInfo& res) {
  res.Realm = kAccountRealm;
  res.Body = WebDomainName(req.HostName) + " web service. Account required.";
}

// Style sheets and images go out with their own type once they are found: a
// browser ignores a style sheet sent as text/html on a standards-mode page, and
// every page here is one.
void SetStaticFileType(const std::string& ext, ResponseInfo& res) {
  if (res.StatusCode != 200) return;
  if (ext == ".css") {
    res.BodyType = "text/css";
  } else if (ext == ".gif") {
    res.BodyType = "image/gif";
  } else {
    res.BodyType = "image/jpeg";
  }
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace

void TPelorinService::SetContentType(const std::string& ext, ResponseInfo& res) {
  if (ext == ".wml") {
    res.BodyType = "text/vnd.wap.wml";
  } else if (ext == ".vcf") {
    res.BodyType = "text/x-vcard; charset=UTF-8";
  }
}

TRecordStore& TPelorinService::StoreForPath(const std::string& path) { return Store(StoreKindForPath(path)); }

TRecordStore& TPelorinService::Store(TStoreKind kind) {
  switch (kind) {
    case TStoreKind::Users:
      return UserDom;
    case TStoreKind::Config:
      return ConfigDom;
    case TStoreKind::Cards:
      break;
  }
  return XMLDom;
}

TRequestRoute TPelorinService::RouteOf(const std::string& path) const {
  TRequestRoute route;
  route.Store = StoreKindForPath(path);
  route.Extension = PathExtension(path);
  route.File = AppDir + MapPath(path);
  return route;
}

void TPelorinService::HTTPServerCommandGet(RequestInfo& req, ResponseInfo& res) {
  std::uint64_t ticket = 0;
  bool trim_due = false;
  // The password is checked against its account's hashes before the lock is
  // taken; under the lock only the verdicts are read.
  std::optional<TSignInProof> proof;
  std::string user = TrimCredential(req.UserName);
  const std::string pass = TrimCredential(req.Password);
  std::vector<std::string> stored;
  bool checked = false;
  {
    TStoreGuard guard(StoreLock);
    // iOS sends "@" in a user name as "%40". A name of that form that no
    // account has is taken decoded, so a literal "%" in a name still works.
    if (user.find('%') != std::string::npos && UserDom.StoredPasswordsOf(user).empty()) {
      if (const std::optional<std::string> decoded = PercentDecodedName(user)) {
        user = *decoded;
        req.UserName = *decoded;
      }
    }
    req.Scheme = ClientScheme(req.Scheme, req.PeerAddress, req.Headers, TrustedProxies);
    const std::string client = ClientAddress(req.PeerAddress, req.Headers, TrustedProxies);
    // A locked or slowed sign-in is never checked, so it costs nothing.
    const bool may_check =
        req.Path == "/logout" || SignInThrottle.MayCheck(user, client, TSignInThrottle::TClock::now());
    checked = !user.empty() && !pass.empty() && may_check;
    if (checked) stored = UserDom.StoredPasswordsOf(user);
  }
  if (req.Scheme == "http" && PlainHttpMode == TPlainHttp::Redirect) return RedirectToHttps(req, res);
  if (checked) {
    try {
      proof = ProveSignIn(user, pass, stored);
    } catch (const std::exception& e) {
      WriteLog(std::string("A password could not be checked: ") + e.what());
    }
  }
  {
    TStoreGuard guard(StoreLock);
    AnswerRequest(req, res, proof ? &*proof : nullptr);
    trim_due = std::exchange(HeapTrimDue, false);
    ticket = TJournal::TakeThreadTicket();
    // Failure messages repeat what the request carried (a path, the parser's view
    // of a posted fragment); as HTML a browser would run markup hidden in them.
    if (res.StatusCode >= 400 && res.Realm.empty() && res.BodyType == "text/html") res.BodyType = "text/plain";
  }
  // A page over a large book (an export, the phone deck) was made with memory
  // that is free again now; handed back at once, it does not stay with the
  // process. A trim walks the free lists, so it follows such requests only.
  if (trim_due || res.Body.size() >= kTrimAfterBodyBytes) ::malloc_trim(0);
  // A change is answered only once it is on disk. The flush waits outside the
  // lock, so readers go on meanwhile and one flush serves every writer queued.
  std::string error;
  if (ticket == 0 || Journal.WaitDurable(ticket, error)) return;
  const std::string message = "The change could not be made durable: " + error;
  WriteLog(message);
  res = ResponseInfo{};
  res.SetStatus(500);
  res.BodyType = "text/plain";
  res.Body = message;
}

void TPelorinService::AnswerRequest(RequestInfo& req, ResponseInfo& res, const TSignInProof* proof) {
  res.AddRawHeader(CacheLineFor(req.Path));
  // Every connection closes after its answer. DAV clients keep connections
  // open unless told (HTTP/1.1), and would send the next request into a
  // closed one; the pages' answers stay as they have always been.
  const bool page_method = req.Method == "GET" || req.Method == "HEAD" || req.Method == "POST";
  if (IsDavPath(req.Path) || !page_method) res.AddRawHeader("Connection: close");
  // Clients look here first for the DAV root, signed in or not.
  if (req.Path == kDavWellKnown || req.Path == std::string(kDavWellKnown) + "/") {
    res.RedirectTo("/dav/");
    return res.SetStatus(301);
  }
  const std::string user = TrimCredential(req.UserName);
  const std::string pass = TrimCredential(req.Password);
  if (user.empty() && pass.empty()) return AskForAccount(req, res);
  // Logging out needs no valid account, so that a browser holding stale
  // credentials can always be sent back to the sign-in.
  if (req.Path == "/logout") {
    LogoutUser(user, pass, proof);
    return res.RedirectTo(kPelorinIndex);
  }
  // A locked or slowed sign-in gets the challenge without its password being
  // looked at, so guessing on learns nothing, while other names and addresses
  // sign in as usual.
  const auto now = TSignInThrottle::TClock::now();
  const std::string client = ClientAddress(req.PeerAddress, req.Headers, TrustedProxies);
  if (!SignInThrottle.MayCheck(user, client, now)) return AskForAccount(req, res);
  bool is_admin = false;
  std::string display_name;
  const TAccountCheck check = CheckAccount(user, pass, is_admin, display_name, proof);
  if (check != TAccountCheck::Accepted) {
    if (check == TAccountCheck::Refused && !user.empty() && !pass.empty()) {
      const TSignInFailure effect = SignInThrottle.RecordFailure(user, client, now);
      if (effect.LockedPair) WriteLog("User (" + user + "/********) locked for 60 s.");
      if (effect.SlowedName) WriteLog("User (" + user + "/********) failing from many addresses: sign-ins slowed.");
    }
    return AskForAccount(req, res);
  }
  SignInThrottle.RecordSuccess(user, client, now);
  if (HasParentSegment(req.Path)) {
    res.SetStatus(403);
    res.Body = "Forbidden path.";
    return;
  }
  if (!CheckAdminArea(is_admin, req.Path)) {
    res.Body = "User needs administrator rights.";
    return res.SetStatus(403);
  }
  // The first-run account keeps its first-run password until it is changed;
  // the pages say so on every visit.
  const bool default_password = EqualsIgnoringCase(user, kFirstRunAdmin) && pass == kFirstRunAdmin;
  RouteRequest(req, res, {user, display_name, is_admin, default_password});
}

void TPelorinService::RouteRequest(RequestInfo& req, ResponseInfo& res, const TSignedIn& account) {
  const std::string& user = account.User;
  const std::string& path = req.Path;
  const bool page_method = req.Method == "GET" || req.Method == "HEAD" || req.Method == "POST";
  if (IsDavPath(path) || (path == "/" && !page_method)) return DavRow(req, res, account);
  if (path == "/pelorin/" || path == "/pelorin" || path == "/") return res.RedirectTo(kPelorinIndex);
  if (path == "/user/" || path == "/user") return res.RedirectTo(kUserIndex);
  if (path == "/config/" || path == "/config") return res.RedirectTo(kConfigIndex);
  const TRequestRoute route = RouteOf(path);
  // In the configuration area, so only administrators reach it.
  if (req.Method == "POST" && path == "/config/backup") return StoreBackupRow(req, res);
  if (req.Method == "POST") return RecordCommandsRow(req, res, route, user);
  if (req.Method == "GET" && path == "/pelorin/photo") return ServePhotoRow(req, res, user);
  // Downloads written from the records by the vCard writer; export.vcf (2.1) is a page.
  if (req.Method == "GET" && path == "/pelorin/export3.vcf") return ExportCardsRow(req, res, user, {TvCardVersion::k30, false});
  if (req.Method == "GET" && path == "/pelorin/export4.vcf") return ExportCardsRow(req, res, user, {TvCardVersion::k40, false});
  if (req.Method == "GET" && path == "/pelorin/card.vcf") return ExportCardsRow(req, res, user, {TvCardVersion::k40, true});
  if (req.Method != "GET") return;  // HEAD: 200 with an empty body

  const std::string& ext = route.Extension;
  SetContentType(ext, res);
  if (ext == ".css" || ext == ".jpg" || ext == ".jpeg" || ext == ".gif") {
    ServeFileRow(req, res);
    return SetStaticFileType(ext, res);
  }
  if (ext == ".htm" || ext == ".wml" || ext == ".vcf") {
    if (FileExists(route.File)) return ServeFileRow(req, res);
    return RenderPageRow(req, res, route, account);
  }
  // Any other extension, or none: 200 with an empty body.
}

}  // namespace pelorin
