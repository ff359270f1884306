// Feeds a raw request (head, empty line, body) through the request reader and the
// response writer, and checks the promises the dispatcher relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/request_reader.h"
#include "web/response_writer.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto head_end = input.find("\r\n\r\n");
  const std::string_view head_text = input.substr(0, head_end);
  const std::string body(head_end == std::string_view::npos ? std::string_view() : input.substr(head_end + 4));

  const pelorin::TRequestPath path = pelorin::PathFromTarget(input);
  Require(path.Path == "*" || (!path.Path.empty() && path.Path.front() == '/'));
  Require(path.Path.find('\\') == std::string::npos && path.Path.find('?') == std::string::npos);

  const pelorin::TRequestHead head = pelorin::SplitRequestHead(head_text);
  const auto request = pelorin::AssembleRequest(head, body, "127.0.0.1");
  if (!request) return 0;
  Require(pelorin::IsDispatchedMethod(request->Method));
  Require(request->RawParams.size() >= body.size());

  pelorin::ResponseInfo response;
  response.Body = request->RawParams;
  for (const std::string& line : request->FormFields) response.AddRawHeader(line);
  const std::string bytes = pelorin::ComposeResponse(response, request->Method);
  const std::string_view written(bytes);
  const auto blank = written.find("\r\n\r\n");
  Require(blank != std::string_view::npos);
  // Every line of the head ends in CR LF, and nothing else in it is CR or LF.
  const std::string_view response_head = written.substr(0, blank + 2);
  for (std::size_t i = 0; i < response_head.size(); ++i) {
    if (response_head[i] == '\r') Require(i + 1 < response_head.size() && response_head[i + 1] == '\n');
    if (response_head[i] == '\n') Require(i > 0 && response_head[i - 1] == '\r');
  }
  const std::size_t body_bytes = written.size() - blank - 4;
  Require(body_bytes == (request->Method == "HEAD" ? 0 : request->RawParams.size()));
  return 0;
}
