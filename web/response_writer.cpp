#include "web/response_writer.h"

#include <utility>

namespace pelorin {

void FinishResponse(ResponseInfo& response, std::string_view server_product) {
  response.SetHeader("Server", server_product);
  response.SetHeader("Content-Type", response.BodyType);
  response.SetHeader("Content-Length", response.Body.empty() ? std::string() : std::to_string(response.Body.size()));
  if (!response.Realm.empty()) {
    response.SetStatus(401);
    response.SetHeader("WWW-Authenticate", "Basic realm=\"" + response.Realm + "\"");
  }
}

namespace {

// An empty line would end the head early, so a header line left empty is not sent.
void AppendLine(std::string& bytes, std::string_view line) {
  const std::size_t start = bytes.size();
  for (const char c : line) {
    if (c != '\r' && c != '\n') bytes += c;
  }
  if (bytes.size() > start) bytes += "\r\n";
}

}  // namespace

std::string ResponseBytes(const ResponseInfo& response, bool with_body) {
  std::string bytes;
  AppendLine(bytes, "HTTP/1.1 " + std::to_string(response.StatusCode) + " " + response.StatusText);
  for (const std::string& line : response.ExtraHeaders) AppendLine(bytes, line);
  bytes += "\r\n";
  if (with_body) bytes += response.Body;
  return bytes;
}

std::string ComposeResponse(ResponseInfo response, std::string_view method) {
  FinishResponse(response);
  return ResponseBytes(response, method != "HEAD");
}

}  // namespace pelorin
