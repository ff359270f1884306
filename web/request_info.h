// One HTTP request as the dispatcher sees it, and the answer it builds.
// Both records live for one request on the connection's handler thread; the
// server fills RequestInfo and turns ResponseInfo into bytes afterwards.
#ifndef PELORIN_WEB_REQUEST_INFO_H_
#define PELORIN_WEB_REQUEST_INFO_H_

#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

struct RequestInfo {
  std::string Method;                     // upper-cased: "GET", "POST" or "HEAD"
  std::string Path;                       // never percent-decoded
  std::string Protocol;                   // last word of the request line
  std::string Scheme;                     // set by the listener: "http" (and "https" once TLS exists)
  std::vector<std::string> Headers;       // "Name: value" lines as received
  std::string HostName;                   // "host" header, else the absolute target's host
  std::string PeerAddress;
  std::string UserName;                   // Basic credentials; empty without them
  std::string Password;
  std::string RawParams;                  // body, then CR LF and the query text
  std::string Query;                      // the target's query text, without "?"
  std::vector<std::string> FormFields;    // "name=value" entries, decoded
};

struct ResponseInfo {
  int StatusCode = 200;
  std::string StatusText = "OK";
  std::string BodyType = "text/html";
  std::string Body;
  std::string Realm;                      // non-empty: the response becomes a Basic challenge
  std::vector<std::string> ExtraHeaders;  // "Name: value" lines, sent in list order

  // Keeps StatusText in step with StatusCode.
  void SetStatus(int code);
  // 302 with "Location" set to `target`, its bytes below 0x20 and DEL percent-encoded
  // ("%0D") and every other byte unchanged; an empty target sends no Location line.
  void RedirectTo(std::string_view target);
  // Replaces the first line of that name (any case), appends one when there is none;
  // an empty value removes the line.
  void SetHeader(std::string_view name, std::string_view value);
  void AddRawHeader(std::string_view line);
};

// Reason phrase for a status code; "Unknown Response Code" for codes without one.
std::string_view StatusPhrase(int code);

// Value of the first entry named `name` (any case) in "name=value" entries; an entry
// without "=" has no name. Empty when no entry matches; later duplicates are never seen.
std::string FieldValue(const std::vector<std::string>& fields, std::string_view name);

// Value of the first "Name: value" line named `name` (any case), with the spaces and
// tabs around it removed. Empty when absent.
std::string HeaderValue(const std::vector<std::string>& headers, std::string_view name);

// ASCII-only comparison without regard to case; the bytes of other code pages
// compare exactly.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace pelorin

#endif  // PELORIN_WEB_REQUEST_INFO_H_
