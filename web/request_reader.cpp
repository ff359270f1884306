#include "web/request_reader.h"

#include <algorithm>
#include <utility>

#include "web/basic_auth.h"
#include "web/form_fields.h"

namespace pelorin {
namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string_view WithoutTrailingCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<TRequestLine> ParseRequestLine(std::string_view line) {
  const auto last_space = line.rfind(' ');
  if (last_space == std::string_view::npos) return std::nullopt;
  TRequestLine parsed;
  parsed.Protocol = std::string(line.substr(last_space + 1));
  const std::string_view rest = line.substr(0, last_space);
  const auto first_space = rest.find(' ');
  parsed.Method = UpperAscii(rest.substr(0, first_space));
  if (first_space != std::string_view::npos) parsed.Target = std::string(rest.substr(first_space + 1));
  return parsed;
}

std::optional<std::string> PercentDecodedName(std::string_view text) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hex(text[i + 1]);
    const int low = hex(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool IsDavPath(std::string_view path) {
  return path == "/dav" || path.starts_with("/dav/") || path.starts_with(kDavWellKnown);
}

// The methods of the pages everywhere; those of WebDAV only where it is served.
bool IsDispatchedMethod(std::string_view method, std::string_view path) {
  if (method == "GET" || method == "POST" || method == "HEAD") return true;
  const bool dav_method = method == "OPTIONS" || method == "PROPFIND" || method == "REPORT" || method == "PUT" ||
                          method == "DELETE";
  // Some clients (vdirsyncer) ask the server's root first.
  return dav_method && (IsDavPath(path) || path == "/");
}

TTargetParts SplitTarget(std::string_view target) {
  const auto question = target.find('?');
  if (question == std::string_view::npos) return {target, {}};
  return {target.substr(0, question), target.substr(question + 1)};
}

TRequestPath PathFromTarget(std::string_view target) {
  TRequestPath result;
  if (target == "*") {
    result.Path = "*";
    return result;
  }
  std::string text(SplitTarget(target).PathText);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (const auto scheme_end = text.find("://"); scheme_end != std::string::npos) {
    const std::size_t host_start = scheme_end + 3;
    const auto host_end = std::min(text.find('/', host_start), text.size());
    result.HostName = text.substr(host_start, host_end - host_start);
    text.erase(0, host_end);
  }
  const auto last_slash = text.rfind('/');
  std::string directory = last_slash == std::string::npos ? std::string() : text.substr(0, last_slash + 1);
  if (directory.empty() || directory.front() != '/') directory.insert(0, "/");
  std::string_view document = std::string_view(text).substr(last_slash == std::string::npos ? 0 : last_slash + 1);
  document = document.substr(0, document.find('#'));
  result.Path = std::move(directory);
  result.Path += document;
  return result;
}

TRequestHead SplitRequestHead(std::string_view head) {
  TRequestHead split;
  bool first_line = true;
  while (!head.empty()) {
    const auto line_end = head.find('\n');
    const std::string_view line = WithoutTrailingCr(head.substr(0, line_end));
    head = line_end == std::string_view::npos ? std::string_view() : head.substr(line_end + 1);
    if (first_line) {
      split.RequestLine = std::string(line);
      first_line = false;
      continue;
    }
    if (line.empty()) break;
    split.HeaderLines.emplace_back(line);
  }
  return split;
}

std::optional<RequestInfo> AssembleRequest(const TRequestHead& head, std::string body,
                                           std::string peer_address) {
  std::optional<TRequestLine> line = ParseRequestLine(head.RequestLine);
  if (!line || !IsDispatchedMethod(line->Method, PathFromTarget(line->Target).Path)) return std::nullopt;
  const TAuthorization credentials = DecodeBasicCredentials(HeaderValue(head.HeaderLines, "Authorization"));
  if (credentials.Refused) return std::nullopt;

  RequestInfo request;
  TRequestPath path = PathFromTarget(line->Target);
  request.Method = std::move(line->Method);
  request.Path = std::move(path.Path);
  request.Protocol = std::move(line->Protocol);
  request.Headers = head.HeaderLines;
  request.HostName = HeaderValue(head.HeaderLines, "Host");
  if (request.HostName.empty()) request.HostName = std::move(path.HostName);
  request.PeerAddress = std::move(peer_address);
  request.UserName = credentials.UserName;
  request.Password = credentials.Password;
  request.Query = SplitTarget(line->Target).QueryText;
  request.RawParams = JoinRawParams(body, request.Query);
  request.FormFields = SplitFormFields(request.RawParams);
  return request;
}

}  // namespace pelorin
