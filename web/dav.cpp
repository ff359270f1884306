// CardDAV, the second way in to the card store beside the pages: discovery
// (the well-known name, a principal and an address-book home per user, one
// address book holding the cards the pages show that user), OPTIONS, PROPFIND
// at depth 0 and 1, the reports clients sync with, GET, PUT and DELETE of a
// card. Every card comes from the same gate as the pages', under StoreLock,
// and only the signed-in user's own; what each card shows a client is kept
// in the user's book (web/dav_book.h) until the card changes.
//
//   /dav/                                   the root
//   /dav/principals/<user>/                 the user's principal
//   /dav/addressbooks/<user>/               the address-book home
//   /dav/addressbooks/<user>/contacts/      the address book
//   /dav/addressbooks/<user>/contacts/<ID>.vcf   a card
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/vcard_main.h"
#include "vcard/vcard_record_builder.h"
#include "vcard/vcard_text.h"
#include "vcard/vcard_upload_reader.h"
#include "web/card_request.h"
#include "web/dav_book.h"
#include "web/dav_multistatus.h"
#include "web/dav_query.h"
#include "web/request_reader.h"

namespace pelorin {
namespace {

constexpr std::string_view kDavRoot = "/dav/";
constexpr std::string_view kPrincipals = "/dav/principals/";
constexpr std::string_view kHomes = "/dav/addressbooks/";
constexpr char kBookName[] = "contacts";
constexpr char kDavHeader[] = "DAV: 1, 3, addressbook";
constexpr char kAllowHeader[] = "Allow: OPTIONS, GET, HEAD, PROPFIND, REPORT, PUT, DELETE";
constexpr char kResourceElement[] = "RESOURCE";
constexpr std::size_t kMaxResourceNameBytes = 255;
constexpr char kCardType[] = "text/vcard; charset=utf-8";

enum class TDavResource { Root, Principal, Home, Book, Card, None };

struct TDavTarget {
  TDavResource Kind = TDavResource::None;
  std::string User;  // lower-cased, percent-decoded
  std::string Card;  // the card's resource name
};

// The segments of a path below `prefix`, empty ones dropped ("a/b/" gives a, b).
std::vector<std::string> SegmentsAfter(std::string_view path, std::string_view prefix) {
  std::vector<std::string> segments;
  std::string_view rest = path.substr(prefix.size());
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (!segment.empty()) segments.emplace_back(segment);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return segments;
}

TDavTarget TargetOf(std::string_view path) {
  TDavTarget target;
  if (path == "/dav" || path == kDavRoot || path == "/") {
    target.Kind = TDavResource::Root;
    return target;
  }
  const bool principal = path.starts_with(kPrincipals);
  const bool home = path.starts_with(kHomes);
  if (!principal && !home) return target;
  std::vector<std::string> segments = SegmentsAfter(path, principal ? kPrincipals : kHomes);
  if (segments.empty()) return target;
  const std::optional<std::string> user = PercentDecodedName(segments[0]);
  if (!user) return target;
  target.User = OwnerNameOf(*user);
  if (principal) {
    if (segments.size() == 1) target.Kind = TDavResource::Principal;
    return target;
  }
  if (segments.size() == 1) {
    target.Kind = TDavResource::Home;
  } else if (segments[1] == kBookName && segments.size() == 2) {
    target.Kind = TDavResource::Book;
  } else if (segments[1] == kBookName && segments.size() == 3) {
    const std::optional<std::string> card = PercentDecodedName(segments[2]);
    if (card) {
      target.Kind = TDavResource::Card;
      target.Card = *card;
    }
  }
  return target;
}

// Names in hrefs are percent-encoded but for the characters URIs keep as they are.
std::string Encoded(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (kept) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string PrincipalHref(const std::string& user) { return std::string(kPrincipals) + Encoded(user) + "/"; }
std::string HomeHref(const std::string& user) { return std::string(kHomes) + Encoded(user) + "/"; }
std::string BookHref(const std::string& user) { return HomeHref(user) + kBookName + "/"; }

std::string Href(const std::string& href) { return "<D:href>" + EscapedText(href) + "</D:href>"; }

// The request's body: RawParams holds it, then CR LF and the query.
std::string_view DavBody(const RequestInfo& req) {
  std::string_view raw = req.RawParams;
  if (req.Query.empty()) return raw;
  if (raw == req.Query) return {};
  return raw.substr(0, raw.size() - req.Query.size() - 2);
}

// A name a client may give a card: one path segment of printable characters.
bool IsResourceName(const std::string& name) {
  if (name.empty() || name.size() > kMaxResourceNameBytes || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/' || c == '\\';
  });
}

// If-Match names ETags, quoted (Evolution may leave the quotes off).
bool EtagMatches(const std::string& header, const std::string& etag) {
  std::string_view rest = header;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view one = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.remove_prefix(1);
    while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
    if (one == "*" || one == etag || "\"" + std::string(one) + "\"" == etag) return true;
  }
  return false;
}

// One response of a PROPFIND or REPORT: what was asked and is there, then what
// was asked and is not; for allprop every property, for propname their names.
void Respond(TDavMultistatus& multistatus, const std::string& href, const TPropfindRequest& asked,
             const std::vector<TDavProperty>& available) {
  std::vector<TDavProperty> found;
  std::vector<TDavName> missing;
  if (asked.Kind == TPropfindRequest::TKind::Prop) {
    for (const TDavName& name : asked.Props) {
      const auto it = std::find_if(available.begin(), available.end(),
                                   [&](const TDavProperty& p) { return p.Name == name; });
      if (it != available.end()) {
        found.push_back(*it);
      } else {
        missing.push_back(name);
      }
    }
  } else {
    for (const TDavProperty& property : available) {
      found.push_back(asked.Kind == TPropfindRequest::TKind::PropName ? TDavProperty{property.Name, ""} : property);
    }
  }
  multistatus.AddResponse(href, found, missing);
}

// The path of an href, which may come as a whole URL.
std::string_view HrefPath(std::string_view href) {
  const std::size_t scheme = href.find("://");
  if (scheme == std::string_view::npos) return href;
  const std::size_t path = href.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view("/") : href.substr(path);
}

// A card's text for address-data: none when not asked for, else 3.0 as kept
// or 4.0 made from the record.
std::string DataOf(TRecordStore& cards, const TDavCard& card, bool wanted, bool version40) {
  if (!wanted) return {};
  return version40 ? TDavBooks::Vcard40Of(cards, card) : card.Vcard30;
}

void Refuse(ResponseInfo& res, int status, const std::string& message) {
  res.SetStatus(status);
  res.BodyType = "text/plain";
  res.Body = message;
}

struct TDavNames {
  const TDavName ResourceType{kDavNamespace, "resourcetype"};
  const TDavName DisplayName{kDavNamespace, "displayname"};
  const TDavName CurrentUserPrincipal{kDavNamespace, "current-user-principal"};
  const TDavName PrincipalUrl{kDavNamespace, "principal-URL"};
  const TDavName Privileges{kDavNamespace, "current-user-privilege-set"};
  const TDavName Owner{kDavNamespace, "owner"};
  const TDavName HomeSet{kCardDavNamespace, "addressbook-home-set"};
  const TDavName Description{kCardDavNamespace, "addressbook-description"};
  const TDavName AddressData{kCardDavNamespace, "supported-address-data"};
  const TDavName MaxSize{kCardDavNamespace, "max-resource-size"};
  const TDavName ReportSet{kDavNamespace, "supported-report-set"};
  const TDavName CTag{kCalendarServerNamespace, "getctag"};
  const TDavName SyncToken{kDavNamespace, "sync-token"};
  const TDavName ETag{kDavNamespace, "getetag"};
  const TDavName ContentType{kDavNamespace, "getcontenttype"};
};
const TDavNames kNames;

constexpr char kReadOnly[] = "<D:privilege><D:read/></D:privilege>";
constexpr char kReadWrite[] =
    "<D:privilege><D:read/></D:privilege><D:privilege><D:write/></D:privilege>"
    "<D:privilege><D:write-content/></D:privilege><D:privilege><D:bind/></D:privilege>"
    "<D:privilege><D:unbind/></D:privilege>";

}  // namespace

void TPelorinService::DavRow(RequestInfo& req, ResponseInfo& res, const TSignedIn& account) {
  const std::string user = OwnerNameOf(account.User);
  res.AddRawHeader(kDavHeader);
  const TDavTarget target = TargetOf(req.Path);
  // Another user's principal, home, book or card is not there for this one.
  if (target.Kind == TDavResource::None || (target.Kind != TDavResource::Root && target.User != user)) {
    res.SetStatus(404);
    res.BodyType = "text/plain";
    res.Body = "No such resource.";
    return;
  }
  if (req.Method == "OPTIONS") {
    res.AddRawHeader(kAllowHeader);
    res.BodyType = "text/plain";
    return;
  }
  std::size_t added = 0;
  TDavBook* book = nullptr;
  // The home's listing shows the book too, with its tag and token.
  const bool book_in_answer =
      target.Kind == TDavResource::Book || target.Kind == TDavResource::Card || target.Kind == TDavResource::Home;
  if (book_in_answer) {
    book = &DavBooks.Current(XMLDom, DavSync, user, added);
    if (added > 0) SaveTimer.SetEnabled(true);
  }
  TDavCard* card = nullptr;
  if (target.Kind == TDavResource::Card) {
    card = TDavBooks::Find(*book, target.Card);
    // A PUT makes the card that is not there yet.
    if (card == nullptr && req.Method != "PUT") {
      res.SetStatus(404);
      res.BodyType = "text/plain";
      res.Body = "No such card.";
      return;
    }
  }
  if (req.Method == "GET" || req.Method == "HEAD") {
    if (card == nullptr) {
      res.SetStatus(405);
      res.AddRawHeader(kAllowHeader);
      res.BodyType = "text/plain";
      res.Body = "A collection has no body to get; PROPFIND lists it.";
      return;
    }
    res.BodyType = kCardType;
    res.AddRawHeader("ETag: " + card->Etag);
    res.Body = card->Vcard30;
    return;
  }
  if (req.Method == "PUT") {
    if (target.Kind != TDavResource::Card) return Refuse(res, 405, "Cards are put into the book, one by one.");
    return DavPut(req, res, target.Card, card, user);
  }
  if (req.Method == "DELETE") {
    if (card == nullptr) return Refuse(res, 405, "Only a card can be deleted.");
    const std::string if_match = HeaderValue(req.Headers, "If-Match");
    if (!if_match.empty() && !EtagMatches(if_match, card->Etag)) {
      return Refuse(res, 412, "The card has changed since that ETag.");
    }
    const TRecordOutcome deleted = XMLDom.DeleteSelected("/*/vCard[ID='" + card->Id + "']", user);
    if (!deleted) return Refuse(res, 500, "The card could not be deleted: " + deleted.Message);
    SaveTimer.SetEnabled(true);
    return res.SetStatus(204);
  }
  if (req.Method == "REPORT") return DavReport(req, res, target.Kind == TDavResource::Book, book, user);
  if (req.Method != "PROPFIND") {
    res.SetStatus(405);
    res.AddRawHeader(kAllowHeader);
    res.BodyType = "text/plain";
    res.Body = "Method not allowed here.";
    return;
  }
  const std::string depth = HeaderValue(req.Headers, "Depth");
  if (EqualsIgnoringCase(depth, "infinity")) {
    res.SetStatus(403);
    res.BodyType = "application/xml; charset=utf-8";
    res.Body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:error xmlns:D=\"DAV:\"><D:propfind-finite-depth/></D:error>\n";
    return;
  }
  std::string problem;
  const std::optional<TPropfindRequest> asked = ParsePropfind(DavBody(req), problem);
  if (!asked) {
    res.SetStatus(400);
    res.BodyType = "text/plain";
    res.Body = problem;
    return;
  }
  const bool members = depth == "1";
  TDavMultistatus multistatus;
  const auto answer = [&](const std::string& href, const std::vector<TDavProperty>& available) {
    Respond(multistatus, href, *asked, available);
  };
  const TDavProperty principal{kNames.CurrentUserPrincipal, Href(PrincipalHref(user))};
  const auto card_properties = [&](const TDavCard& one) {
    return std::vector<TDavProperty>{
        {kNames.ResourceType, ""},
        {kNames.ETag, EscapedText(one.Etag)},
        {kNames.ContentType, kCardType},
        {kNames.DisplayName, EscapedText(one.DisplayName)},
        principal,
        {kNames.Privileges, kReadWrite},
    };
  };
  const auto book_properties = [&] {
    // The book's tag changes whenever one of its cards does, and is the same
    // after a restart: a digest of every card's name and ETag in order.
    return std::vector<TDavProperty>{
        {kNames.ResourceType, "<D:collection/><C:addressbook/>"},
        {kNames.DisplayName, EscapedText(account.DisplayName.empty() ? user : account.DisplayName)},
        {kNames.Description, "Pelorin cards"},
        principal,
        {kNames.Owner, Href(PrincipalHref(user))},
        {kNames.Privileges, kReadWrite},
        {kNames.CTag, EscapedText(book->CTag)},
        {kNames.ReportSet,
         "<D:supported-report><D:report><C:addressbook-multiget/></D:report></D:supported-report>"
         "<D:supported-report><D:report><D:sync-collection/></D:report></D:supported-report>"
         "<D:supported-report><D:report><C:addressbook-query/></D:report></D:supported-report>"},
        {kNames.SyncToken, EscapedText(book->SyncToken)},
        {kNames.AddressData,
         "<C:address-data-type content-type=\"text/vcard\" version=\"3.0\"/>"
         "<C:address-data-type content-type=\"text/vcard\" version=\"4.0\"/>"},
        {kNames.MaxSize, std::to_string(kMaxCardBytes)},
    };
  };
  switch (target.Kind) {
    case TDavResource::Root:
      answer(req.Path == "/" ? std::string("/") : std::string(kDavRoot), {{kNames.ResourceType, "<D:collection/>"}, principal, {kNames.Privileges, kReadOnly}});
      break;
    case TDavResource::Principal:
      answer(PrincipalHref(user), {{kNames.ResourceType, "<D:principal/><D:collection/>"},
                                   {kNames.DisplayName, EscapedText(account.DisplayName.empty() ? user : account.DisplayName)},
                                   principal,
                                   {kNames.PrincipalUrl, Href(PrincipalHref(user))},
                                   {kNames.HomeSet, Href(HomeHref(user))},
                                   {kNames.Privileges, kReadOnly}});
      break;
    case TDavResource::Home:
      answer(HomeHref(user), {{kNames.ResourceType, "<D:collection/>"},
                              {kNames.DisplayName, EscapedText(user)},
                              principal,
                              {kNames.Owner, Href(PrincipalHref(user))},
                              {kNames.Privileges, kReadOnly}});
      if (members) answer(BookHref(user), book_properties());
      break;
    case TDavResource::Book:
      answer(BookHref(user), book_properties());
      if (members) {
        for (const TDavCard& one : book->Cards) answer(BookHref(user) + Encoded(one.Name), card_properties(one));
      }
      break;
    case TDavResource::Card:
      answer(BookHref(user) + Encoded(card->Name), card_properties(*card));
      break;
    case TDavResource::None:
      break;
  }
  res.SetStatus(207);
  res.BodyType = "application/xml; charset=utf-8";
  res.Body = multistatus.Text();
}

// REPORT: addressbook-multiget, addressbook-query and sync-collection on the
// book, an empty answer to the reports clients send to find principals or
// expand properties, and a refusal of the rest. A missing href gets a 404
// response of its own.
void TPelorinService::DavReport(RequestInfo& req, ResponseInfo& res, bool on_book, TDavBook* book,
                                const std::string& user) {
  std::string problem;
  const std::optional<TReportRequest> report = ParseReport(DavBody(req), problem);
  if (!report) return Refuse(res, 400, problem);
  TDavMultistatus multistatus;
  const bool book_report = report->Kind == TReportRequest::TKind::Multiget ||
                           report->Kind == TReportRequest::TKind::SyncCollection ||
                           report->Kind == TReportRequest::TKind::Query;
  if (report->Kind == TReportRequest::TKind::Other || (book_report && !on_book)) {
    res.SetStatus(403);
    res.BodyType = "application/xml; charset=utf-8";
    res.Body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:error xmlns:D=\"DAV:\"><D:supported-report/></D:error>\n";
    return;
  }
  const bool version40 = report->AddressDataVersion == "4.0";
  const TPropfindRequest asked{TPropfindRequest::TKind::Prop, report->Props};
  const TDavName address_data{kCardDavNamespace, "address-data"};
  // The cards' texts are escaped only when the client asked for them.
  const bool wants_data = std::find(report->Props.begin(), report->Props.end(), address_data) != report->Props.end();
  const TDavProperty principal{kNames.CurrentUserPrincipal, Href(PrincipalHref(user))};
  // `data` is the card's text, when the client asked for it (made by the
  // callers, which the lock analysis sees holding the store lock).
  const auto card_answer = [&](const std::string& href, const TDavCard& card, const std::string& data) {
    std::vector<TDavProperty> available{{kNames.ETag, EscapedText(card.Etag)},
                                        {kNames.ContentType, kCardType},
                                        {kNames.ResourceType, ""},
                                        {kNames.DisplayName, EscapedText(card.DisplayName)},
                                        principal};
    if (wants_data) available.push_back({address_data, EscapedText(data)});
    Respond(multistatus, href, asked, available);
  };
  if (report->Kind == TReportRequest::TKind::Query) {
    for (TDavCard& card : book->Cards) {
      if (!PassesFilter(*report, card.Vcard30)) continue;
      card_answer(BookHref(user) + Encoded(card.Name), card, DataOf(XMLDom, card, wants_data, version40));
    }
  }
  if (report->Kind == TReportRequest::TKind::SyncCollection) {
    const std::optional<std::vector<TDavChange>> changes = DavSync.ChangesSince(user, report->SyncToken);
    if (!changes) {
      // DAVx5 and Evolution start afresh on the element with 403; Thunderbird
      // only on a 400, so it gets that.
      const bool thunderbird = ContainsNoCase(HeaderValue(req.Headers, "User-Agent"), "THUNDERBIRD");
      res.SetStatus(thunderbird ? 400 : 403);
      res.BodyType = "application/xml; charset=utf-8";
      res.Body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:error xmlns:D=\"DAV:\"><D:valid-sync-token/></D:error>\n";
      return;
    }
    for (const TDavChange& change : *changes) {
      const std::string href = BookHref(user) + Encoded(change.Name);
      TDavCard* card = change.Deleted ? nullptr : TDavBooks::Find(*book, change.Name);
      if (card == nullptr) {
        multistatus.AddStatus(href, 404);
      } else {
        card_answer(href, *card, DataOf(XMLDom, *card, wants_data, version40));
      }
    }
    multistatus.SetSyncToken(book->SyncToken);
  }
  if (report->Kind == TReportRequest::TKind::Multiget) {
    for (const std::string& href : report->Hrefs) {
      const TDavTarget target = TargetOf(HrefPath(href));
      TDavCard* card = nullptr;
      if (target.Kind == TDavResource::Card && target.User == user) card = TDavBooks::Find(*book, target.Card);
      if (card == nullptr) {
        multistatus.AddStatus(href, 404);
        continue;
      }
      card_answer(href, *card, DataOf(XMLDom, *card, wants_data, version40));
    }
  }
  res.SetStatus(207);
  res.BodyType = "application/xml; charset=utf-8";
  res.Body = multistatus.Text();
}

// A card put by a client: read from its vCard text by the upload's reader,
// named as the client named it, and made or replaced through the gate like
// any other change. `existing` is the card of that name, if any.
void TPelorinService::DavPut(RequestInfo& req, ResponseInfo& res, const std::string& name,
                             const TDavCard* existing, const std::string& user) {
  if (!IsResourceName(name)) return Refuse(res, 400, "That is no name for a card.");
  const std::string if_match = HeaderValue(req.Headers, "If-Match");
  const std::string if_none_match = HeaderValue(req.Headers, "If-None-Match");
  if (existing != nullptr && if_none_match == "*") return Refuse(res, 412, "A card of that name is there already.");
  if (!if_match.empty() && (existing == nullptr || !EtagMatches(if_match, existing->Etag))) {
    return Refuse(res, 412, "The card has changed since that ETag.");
  }
  const std::string type = HeaderValue(req.Headers, "Content-Type");
  if (!type.empty() && !ContainsNoCase(type, "VCARD") && !ContainsNoCase(type, "TEXT/PLAIN")) {
    return Refuse(res, 415, "A card is sent as text/vcard.");
  }
  const std::string_view body = DavBody(req);
  if (body.size() > kMaxCardBytes) {
    return Refuse(res, 413, "A card has at most " + std::to_string(kMaxCardBytes) + " bytes.");
  }
  std::vector<std::string> records;
  TvCardUploadReader reader(body);
  for (std::string xml; reader.NextPass(xml);) {
    if (!xml.empty()) records.push_back(std::move(xml));
  }
  if (records.empty()) return Refuse(res, 400, "The body holds no vCard.");
  if (records.size() > 1) return Refuse(res, 400, "One card is put at a time.");
  std::string& xml = records.front();
  // The record keeps the client's name, and a replacement keeps the card's ID.
  std::string tail = "<" + std::string(kResourceElement) + ">" + EscapedText(name) + "</" + kResourceElement + ">";
  if (existing != nullptr) tail += "<ID>" + existing->Id + "</ID>";
  xml.insert(xml.rfind("</vCard>"), tail);
  const TRecordOutcome outcome = existing == nullptr
                                     ? XMLDom.InsertRecord(xml, user)
                                     : XMLDom.ReplaceRecord("/*/vCard[ID='" + existing->Id + "']", xml, user);
  if (!outcome) {
    if (outcome.Status == TRecordOutcome::TStatus::NotDurable) {
      return Refuse(res, 500, "The card could not be made durable: " + outcome.Message);
    }
    const bool too_large = outcome.Message.find("more than") != std::string::npos;
    return Refuse(res, too_large ? 413 : 400,
                  "The card was refused: " + (outcome.Message.empty() ? outcome.ErrorText : outcome.Message));
  }
  SaveTimer.SetEnabled(true);
  const bool created = existing == nullptr;
  std::size_t added = 0;  // `existing` goes with the book's old state here
  TDavBook& book = DavBooks.Current(XMLDom, DavSync, user, added);
  if (const TDavCard* stored = TDavBooks::Find(book, name)) res.AddRawHeader("ETag: " + stored->Etag);
  res.SetStatus(created ? 201 : 204);
}

}  // namespace pelorin
