// Turns the ResponseInfo that the dispatcher filled into the exact bytes sent on
// the wire. Pure functions, called on the connection's thread after the handler.
#ifndef PELORIN_WEB_RESPONSE_WRITER_H_
#define PELORIN_WEB_RESPONSE_WRITER_H_

#include <string>
#include <string_view>

#include "web/request_info.h"

namespace pelorin {

inline constexpr std::string_view kServerProduct = "Pelorin/1.0.1";

// Sets, by name and in this order, "Server", "Content-Type" and "Content-Length" (the
// last only for a non-empty body, removed otherwise); a non-empty Realm turns the
// response into 401 with a Basic challenge.
void FinishResponse(ResponseInfo& response, std::string_view server_product = kServerProduct);

// Status line, ExtraHeaders in list order, an empty line, then the body unless
// `with_body` is false (the answer to HEAD keeps its Content-Length but sends no
// body bytes). CR and LF inside a header line are dropped, and a line left empty is
// skipped, so that no text placed in a header, such as a redirect target, can start
// a line of its own or end the head early.
std::string ResponseBytes(const ResponseInfo& response, bool with_body);

// FinishResponse and ResponseBytes for a request made with `method`.
std::string ComposeResponse(ResponseInfo response, std::string_view method);

}  // namespace pelorin

#endif  // PELORIN_WEB_RESPONSE_WRITER_H_
