// The HTTP/1.1 listener: reads one request per connection, hands it to the handler
// on one of a pool of handler threads, writes the response and closes. Owned by the
// service module; Activate and Deactivate are called from the service's start and stop.
#ifndef PELORIN_WEB_HTTP_SERVER_H_
#define PELORIN_WEB_HTTP_SERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/request_info.h"

namespace pelorin {

struct THttpServerLimits {
  std::size_t HeaderLimit = 64 * 1024;              // request line and headers together
  std::uint64_t BodyLimit = 64ull * 1024 * 1024;    // uploads of whole address books pass 1 MB
  std::chrono::milliseconds ReadTimeout{30000};     // for the whole request, so trickling costs nothing
  std::chrono::milliseconds WriteTimeout{30000};    // for the whole response
  std::chrono::milliseconds LingerTimeout{2000};    // draining the peer's unread bytes before closing
  std::chrono::milliseconds HandshakeTimeout{10000};  // a TLS handshake, before the request's own time
  // Ceiling on open connections; Activate lowers it to what the descriptor limit
  // leaves. At the cap the connection that has waited longest for its request is
  // shed to make room, so clients that trickle cannot lock the others out.
  std::size_t MaxConnections = 16384;
};

// A certificate chain (PEM, the server's certificate first) and its private key.
struct TTlsSettings {
  std::string CertificateChainFile;
  std::string PrivateKeyFile;
};

struct TListenSettings {
  std::string Address;              // empty: every local address
  std::optional<TTlsSettings> Tls;  // set: the listener speaks TLS only
};

class THttpServer {
 public:
  // May throw std::exception; the client then gets 500 with the message as body.
  using THandler = std::function<void(RequestInfo&, ResponseInfo&)>;

  explicit THttpServer(THandler handler, THttpServerLimits limits = {});
  ~THttpServer();  // deactivates
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Listens on every local address (IPv6 and IPv4, or IPv4 alone where the host has
  // no IPv6), or on the one address given, with SO_REUSEADDR; port 0 picks a free
  // port. With TLS settings every connection begins with a TLS handshake (TLS 1.2
  // or 1.3) and requests say "https". Raises the process's soft limit on open files
  // to its hard limit first. False, with ErrorText set, when the port cannot be
  // opened, the certificate or key cannot be loaded, or the server is already
  // active; never throws for socket errors.
  [[nodiscard]] bool Activate(std::uint16_t port, const TListenSettings& listen = {});

  // Stops accepting, closes connections that have not reached the handler yet, lets
  // the requests inside the handler finish and be answered, then joins every thread.
  // Safe to call twice, and from any thread but a handler's.
  void Deactivate();

  // The bound port while active, 0 otherwise.
  std::uint16_t Port() const;
  // How many connections may be open at once while active (MaxConnections, lowered
  // to fit the descriptor limit); 0 otherwise.
  std::size_t ConnectionCap() const;
  std::string ErrorText() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pelorin

#endif  // PELORIN_WEB_HTTP_SERVER_H_
