// Turns the text of one HTTP request (request line, header lines, body) into a
// RequestInfo, or decides that the connection ends without an answer. Pure
// functions with no socket behind them; called on the connection's thread.
#ifndef PELORIN_WEB_REQUEST_READER_H_
#define PELORIN_WEB_REQUEST_READER_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/request_info.h"

namespace pelorin {

struct TRequestLine {
  std::string Method;    // upper-cased
  std::string Target;
  std::string Protocol;
};

// The text after the last space is the protocol; of the rest, the first word is the
// method and what follows its space the target. A line without a space: nullopt.
std::optional<TRequestLine> ParseRequestLine(std::string_view line);

// Only these reach the dispatcher; any other method ends the connection unanswered.
inline constexpr char kDavWellKnown[] = "/.well-known/carddav";
// "%40" and the like decoded; nullopt for a bad escape or a NUL.
std::optional<std::string> PercentDecodedName(std::string_view text);
// Paths of the CardDAV front end: /dav and below, and the well-known name.
bool IsDavPath(std::string_view path);
// GET, POST and HEAD anywhere; OPTIONS, PROPFIND, REPORT, PUT and DELETE on DAV
// paths and on "/", which answers as the DAV root.
bool IsDispatchedMethod(std::string_view method, std::string_view path);

struct TTargetParts {
  std::string_view PathText;
  std::string_view QueryText;
};

// Split at the first "?"; without one the query text is empty.
TTargetParts SplitTarget(std::string_view target);

struct TRequestPath {
  std::string Path;
  std::string HostName;  // host (and port) of an absolute target, else empty
};

// The target "*" stays "*". Otherwise backslashes become "/", "scheme://host[:port]"
// is removed, the directory gets a leading "/" and the document name is cut at "#".
// Nothing is percent-decoded and letter case is kept.
TRequestPath PathFromTarget(std::string_view target);

struct TRequestHead {
  std::string RequestLine;
  std::vector<std::string> HeaderLines;  // up to the first empty line, without line ends
};

// Splits the head of a request at CR LF (a bare LF also ends a line).
TRequestHead SplitRequestHead(std::string_view head);

// The request as the dispatcher sees it, or nullopt when the connection must end
// without a response: no space in the request line, a method other than GET, POST
// or HEAD, or an "Authorization" scheme other than Basic.
std::optional<RequestInfo> AssembleRequest(const TRequestHead& head, std::string body,
                                           std::string peer_address);

}  // namespace pelorin

#endif  // PELORIN_WEB_REQUEST_READER_H_
