#include "web/http_server.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <list>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "web/request_reader.h"
#include "web/response_writer.h"

namespace pelorin {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

// Descriptors left for everything but connections: the listener and the I/O loop's
// own, the log and store files, and the pages and stylesheets that each of the
// handler threads may have open at once.
constexpr std::size_t kDescriptorsForFiles = 128;

// TLS 1.2 with forward secrecy and AEAD ciphers only (TLS 1.3 brings its own
// suites, all of them current); what browsers, phones and desktop programs of
// the last years speak.
constexpr char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384";

std::string OpenSslErrorText() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// Every connection holds a descriptor. The soft limit is often far below the hard
// one (1024 against 524288 under systemd), so it is raised as far as allowed, and
// the connections get what the files leave. Never fails: without a raise the
// current limit is used.
std::size_t ConnectionsTheDescriptorsAllow() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::numeric_limits<std::size_t>::max();
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    // An unlimited hard limit cannot be the soft one (the kernel caps descriptors at
    // fs.nr_open); its usual value is the next thing to ask for.
    constexpr rlim_t kUsualKernelCeiling = rlim_t{1} << 20;
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0 && limit.rlim_max == RLIM_INFINITY &&
        limit.rlim_cur < kUsualKernelCeiling) {
      raised.rlim_cur = kUsualKernelCeiling;
      (void)setrlimit(RLIMIT_NOFILE, &raised);
    }
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::numeric_limits<std::size_t>::max();
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > std::numeric_limits<std::size_t>::max()) {
    return std::numeric_limits<std::size_t>::max();
  }
  const auto soft = static_cast<std::size_t>(limit.rlim_cur);
  return soft > 2 * kDescriptorsForFiles ? soft - kDescriptorsForFiles : std::max<std::size_t>(1, soft / 2);
}

}  // namespace

// All socket work runs on one I/O thread (so connections need no strands); handler
// calls run on a fixed pool of threads fed by a queue, so that requests overlap
// without the cost of starting a thread for each. At the cap on open connections a
// newcomer is still accepted and the connection that has waited longest for its
// request is shed instead; connections that reached the handler are never shed.
class THttpServer::Impl {
 public:
  Impl(THandler handler, THttpServerLimits limits) : handler_(std::move(handler)), limits_(limits) {}
  ~Impl() { Deactivate(); }

  bool Activate(std::uint16_t port, const TListenSettings& listen);
  void Deactivate();
  std::uint16_t Port() const { return port_.load(); }
  std::size_t ConnectionCap() const { return connection_cap_.load(); }
  std::string ErrorText() const {
    std::lock_guard lock(mutex_);
    return error_text_;
  }

 private:
  class TConnection;
  template <bool kTls>
  class TConnectionOf;
  // Oldest first; entries of connections that ended without Close are expired.
  using TConnectionList = std::list<std::weak_ptr<TConnection>>;

  bool OpenAcceptor(std::uint16_t port, const std::string& address);
  bool LoadTls(const TTlsSettings& settings);
  void RunIoLoop() noexcept;
  void AcceptNext();
  void OnAccept(error_code ec, tcp::socket socket);
  void ShedLongestWaiting(const TConnection* newcomer);
  void ConnectionClosed();
  void ForgetExpiredConnections();
  void CloseIdleConnections();
  void StartHandler(std::shared_ptr<TConnection> connection);
  void StartWorkers();  // throws std::system_error; JoinWorkers then ends those started
  void RunWorker() noexcept;
  void ConnectionStarted();
  void ConnectionEnded();
  void JoinWorkers();

  // Enough for handlers that wait on one another (a slow import beside quick page
  // views); beyond it requests queue, they are never refused.
  static constexpr std::size_t kHandlerThreads = 32;

  const THandler handler_;
  const THttpServerLimits limits_;

  // Made anew by each Activate, so no handler queued before a Deactivate survives it.
  std::unique_ptr<asio::io_context> io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> keep_running_;
  std::optional<tcp::acceptor> acceptor_;
  std::optional<ssl::context> tls_;  // set while a TLS listener is active
  std::optional<asio::steady_timer> retry_timer_;
  std::thread io_thread_;
  std::atomic<std::uint16_t> port_{0};
  std::atomic<std::size_t> connection_cap_{0};
  std::atomic<bool> stopping_{false};

  // I/O thread only. Every open connection, and those of them still waiting for
  // their request: the ones that may be shed.
  TConnectionList open_connections_;
  TConnectionList awaiting_request_;
  bool accept_paused_ = false;  // at the cap with nothing to shed

  std::mutex lifecycle_mutex_;  // one Activate or Deactivate at a time
  mutable std::mutex mutex_;    // guards everything below
  std::condition_variable all_closed_;
  std::size_t live_connections_ = 0;  // until the last TConnection is destroyed
  std::string error_text_;
  bool active_ = false;

  std::mutex queue_mutex_;  // guards the two below
  std::condition_variable queue_changed_;
  std::deque<std::shared_ptr<TConnection>> waiting_for_handler_;
  bool workers_stopping_ = false;
  std::vector<std::thread> workers_;  // only Activate and Deactivate touch it
};

// What the server's lists and handler threads see of a connection, whatever it
// speaks.
class THttpServer::Impl::TConnection {
 public:
  virtual ~TConnection() = default;
  virtual void Start() = 0;  // throws std::bad_alloc; Close then undoes it
  virtual void CloseUnlessHandling() = 0;
  virtual void RunHandler() noexcept = 0;  // on a handler thread
  virtual void Close() = 0;
};

// One connection from accept to close, over plain TCP or TLS (kTls). Lives in
// shared_ptrs held by its pending operations; every method but RunHandler and
// the destructor runs on the I/O thread.
template <bool kTls>
class THttpServer::Impl::TConnectionOf final : public TConnection,
                                               public std::enable_shared_from_this<TConnectionOf<kTls>> {
 public:
  using TStream = std::conditional_t<kTls, beast::ssl_stream<beast::tcp_stream>, beast::tcp_stream>;

  TConnectionOf(Impl& server, tcp::socket socket, std::string peer)
      : server_(server), stream_(MakeStream(server, std::move(socket))), peer_(std::move(peer)) {
    server_.ConnectionStarted();
  }
  ~TConnectionOf() override {
    // Only a failure inside a completion handler ends a connection without Close; its
    // list entries then linger, expired, and must stop counting against the cap.
    if (phase_ != TPhase::Closed) {
      try {
        asio::post(stream_.get_executor(), [&server = server_] { server.ForgetExpiredConnections(); });
      } catch (...) {
      }
    }
    server_.ConnectionEnded();
  }

  void Start() override;
  void CloseUnlessHandling() override;
  void RunHandler() noexcept override;
  void Answer(std::string bytes);
  void Close() override;

 private:
  enum class TPhase { Reading, Handling, Writing, Lingering, Closed };
  static constexpr std::size_t kChunkSize = 8192;

  static TStream MakeStream(Impl& server, tcp::socket socket) {
    if constexpr (kTls) {
      return TStream(std::move(socket), *server.tls_);
    } else {
      return TStream(std::move(socket));
    }
  }
  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }
  std::shared_ptr<TConnectionOf> Self() { return this->shared_from_this(); }

  void ReadHeader();
  void OnHeader(error_code ec);
  void WriteContinue(bool until_close);  // the interim answer, then ReadBody
  void ReadBody(bool until_close);
  void OnBody(error_code ec);
  void ReadUntilPeerCloses();
  void OnBodyBytes(error_code ec, std::size_t count);
  void Dispatch(std::string body);
  void AnswerTooLarge();
  void StopAwaitingRequest();
  bool MakeChunk();
  void Linger();
  void DrainMore();

  Impl& server_;
  TStream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  const std::string peer_;
  TRequestHead head_;
  std::string method_;  // kept apart: the handler may change request_
  std::string body_;
  RequestInfo request_;
  std::string response_bytes_;
  // Scratch space for reads outside the parser (a body read until the peer closes,
  // the drain before closing), made on first use: an idle connection should cost
  // little, and most never need it.
  std::unique_ptr<char[]> chunk_;
  TPhase phase_ = TPhase::Reading;
  // This connection's places in the server's lists, so that leaving them is cheap.
  std::optional<TConnectionList::iterator> open_entry_;
  std::optional<TConnectionList::iterator> awaiting_entry_;
};

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::Start() {
  open_entry_ = server_.open_connections_.insert(server_.open_connections_.end(), std::weak_ptr<TConnection>(Self()));
  awaiting_entry_ = server_.awaiting_request_.insert(server_.awaiting_request_.end(), std::weak_ptr<TConnection>(Self()));
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(
      std::min<std::size_t>(server_.limits_.HeaderLimit, std::numeric_limits<std::uint32_t>::max())));
  // The declared length is judged after the whole head is read, so that a request to
  // be dropped unanswered is dropped even when it announces a huge body.
  parser_->body_limit(boost::none);
  if constexpr (kTls) {
    // TLS writes its records one by one (the answer, then close_notify); held
    // back until the peer's delayed acknowledgement, each would wait 40 ms.
    error_code ignored;
    Lowest().socket().set_option(tcp::no_delay(true), ignored);
    // The handshake has a time of its own: a client that opens the connection
    // and says nothing must not hold it for the whole read time-out.
    Lowest().expires_after(server_.limits_.HandshakeTimeout);
    stream_.async_handshake(ssl::stream_base::server, [self = Self()](error_code ec) {
      if (ec || self->server_.stopping_) return self->Close();
      self->ReadHeader();
    });
  } else {
    ReadHeader();
  }
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::ReadHeader() {
  Lowest().expires_after(server_.limits_.ReadTimeout);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = Self()](error_code ec, std::size_t) { self->OnHeader(ec); });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::OnHeader(error_code ec) {
  if (ec || server_.stopping_) return Close();
  const auto& message = parser_->get();
  const unsigned version = message.version();
  head_.RequestLine = std::string(message.method_string()) + " " + std::string(message.target()) + " HTTP/" +
                      std::to_string(version / 10) + "." + std::to_string(version % 10);
  for (const auto& field : message) {
    head_.HeaderLines.push_back(std::string(field.name_string()) + ": " + std::string(field.value()));
  }
  const std::optional<RequestInfo> admitted = AssembleRequest(head_, std::string(), peer_);
  if (!admitted) return Close();
  method_ = admitted->Method;

  const auto declared = parser_->content_length();
  if (declared && *declared > server_.limits_.BodyLimit) return AnswerTooLarge();
  // A request without length or chunks has no body in HTTP/1.1, but a POST in
  // that form carries everything the peer sends until it closes its side.
  const bool until_close = parser_->is_done() && method_ == "POST" && !declared && !parser_->chunked();
  if (parser_->is_done() && !until_close) return Dispatch(std::string());
  // A client that asked whether to send its body waits for the answer before it
  // does (curl a second for every upload over 1 MiB). An HTTP/1.0 client cannot
  // have asked, so it gets none.
  if (version >= 11 && beast::iequals(message[http::field::expect], "100-continue")) {
    return WriteContinue(until_close);
  }
  ReadBody(until_close);
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::WriteContinue(bool until_close) {
  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  asio::async_write(stream_, asio::buffer(kContinue.data(), kContinue.size()),
                    [self = Self(), until_close](error_code ec, std::size_t) {
                      if (ec || self->server_.stopping_ || self->phase_ == TPhase::Closed) return self->Close();
                      self->ReadBody(until_close);
                    });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::ReadBody(bool until_close) {
  if (until_close) return ReadUntilPeerCloses();
  parser_->body_limit(server_.limits_.BodyLimit);
  http::async_read(stream_, buffer_, *parser_,
                   [self = Self()](error_code ec, std::size_t) { self->OnBody(ec); });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::OnBody(error_code ec) {
  if (ec == http::error::body_limit) return AnswerTooLarge();
  if (ec || server_.stopping_) return Close();
  Dispatch(std::move(parser_->get().body()));
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::ReadUntilPeerCloses() {
  body_ = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  if (body_.size() > server_.limits_.BodyLimit) return AnswerTooLarge();
  if (!MakeChunk()) return Close();
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = Self()](error_code ec, std::size_t count) { self->OnBodyBytes(ec, count); });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::OnBodyBytes(error_code ec, std::size_t count) {
  body_.append(chunk_.get(), count);
  if (body_.size() > server_.limits_.BodyLimit) return AnswerTooLarge();
  // Over TLS a peer that just closes its side (no close_notify) ends the body too:
  // the length of such a body is the peer's word either way.
  const bool ended = ec == asio::error::eof || ec == ssl::error::stream_truncated;
  if (ended && !server_.stopping_) return Dispatch(std::move(body_));
  if (ec || server_.stopping_) return Close();
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = Self()](error_code next_ec, std::size_t next) {
                            self->OnBodyBytes(next_ec, next);
                          });
}

template <bool kTls>
bool THttpServer::Impl::TConnectionOf<kTls>::MakeChunk() {
  if (!chunk_) chunk_.reset(new (std::nothrow) char[kChunkSize]);
  return chunk_ != nullptr;
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::StopAwaitingRequest() {
  if (!awaiting_entry_) return;
  server_.awaiting_request_.erase(*awaiting_entry_);
  awaiting_entry_.reset();
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::Dispatch(std::string body) {
  std::optional<RequestInfo> request = AssembleRequest(head_, std::move(body), peer_);
  if (!request) return Close();
  request_ = std::move(*request);
  request_.Scheme = kTls ? "https" : "http";
  StopAwaitingRequest();
  phase_ = TPhase::Handling;
  Lowest().expires_never();
  server_.StartHandler(Self());
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::RunHandler() noexcept {
  try {
    ResponseInfo response;
    try {
      server_.handler_(request_, response);
    } catch (const std::exception& e) {
      response.SetStatus(500);
      response.Body = e.what();
    } catch (...) {
      response.SetStatus(500);
      response.Body = "Unknown failure while handling the request.";
    }
    asio::post(stream_.get_executor(), [self = Self(),
                                        bytes = ComposeResponse(std::move(response), method_)]() mutable {
      self->Answer(std::move(bytes));
    });
  } catch (...) {
    // Out of memory while composing: the connection closes with nothing written.
    asio::post(stream_.get_executor(), [self = Self()] { self->Close(); });
  }
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::Answer(std::string bytes) {
  response_bytes_ = std::move(bytes);
  phase_ = TPhase::Writing;
  if constexpr (kTls) {
    Lowest().expires_after(server_.limits_.WriteTimeout);
    asio::async_write(stream_, asio::buffer(response_bytes_), [self = Self()](error_code write_ec, std::size_t) {
      if (write_ec) return self->Close();
      self->Linger();
    });
    return;
  }
  // Most responses fit the socket's buffer whole. Sent here without waiting, and held
  // back (MSG_MORE) until the shutdown in Linger adds the FIN, they leave in one
  // segment with it: the peer, reading until close, learns the end at once.
  error_code ec;
  tcp::socket& socket = Lowest().socket();
  if (!socket.non_blocking()) socket.non_blocking(true, ec);
  const std::size_t sent = ec ? 0 : socket.send(asio::buffer(response_bytes_), MSG_MORE, ec);
  if (!ec && sent == response_bytes_.size()) return Linger();
  if (ec && ec != asio::error::would_block && ec != asio::error::try_again) return Close();
  Lowest().expires_after(server_.limits_.WriteTimeout);
  asio::async_write(stream_, asio::buffer(response_bytes_) + sent,
                    [self = Self()](error_code write_ec, std::size_t) {
                      if (write_ec) return self->Close();
                      self->Linger();
                    });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::AnswerTooLarge() {
  StopAwaitingRequest();
  ResponseInfo response;
  response.SetStatus(413);
  response.BodyType = "text/plain";
  response.Body = "Request body too large.";
  Answer(ComposeResponse(std::move(response), method_));
}

// Closing a socket with unread bytes makes the kernel reset the connection, and the
// peer may then lose the response it has not read yet (a 413 sent while it is still
// uploading). So the sending side is shut first and the rest read and discarded.
template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::Linger() {
  phase_ = TPhase::Lingering;
  if constexpr (kTls) {
    // close_notify tells the peer the answer is whole; its own is awaited for
    // the linger time at most.
    Lowest().expires_after(server_.limits_.LingerTimeout);
    stream_.async_shutdown([self = Self()](error_code) { self->Close(); });
    return;
  }
  error_code ignored;
  Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
  Lowest().expires_after(server_.limits_.LingerTimeout);
  if (!MakeChunk()) return Close();
  DrainMore();
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::DrainMore() {
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = Self()](error_code ec, std::size_t) {
                            if (ec || self->phase_ == TPhase::Closed) return self->Close();
                            self->DrainMore();
                          });
}

template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::CloseUnlessHandling() {
  if (phase_ == TPhase::Reading || phase_ == TPhase::Lingering) Close();
}

// The operations still pending complete with an error and drop their hold; the
// descriptor and the place under the cap are free at once.
template <bool kTls>
void THttpServer::Impl::TConnectionOf<kTls>::Close() {
  if (phase_ == TPhase::Closed) return;
  phase_ = TPhase::Closed;
  StopAwaitingRequest();
  if (open_entry_) {
    server_.open_connections_.erase(*open_entry_);
    open_entry_.reset();
  }
  error_code ignored;
  Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
  Lowest().socket().close(ignored);
  server_.ConnectionClosed();
}

bool THttpServer::Impl::Activate(std::uint16_t port, const TListenSettings& listen) {
  std::lock_guard lifecycle(lifecycle_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (active_) {
      error_text_ = "The HTTP server is already active on port " + std::to_string(port_.load());
      return false;
    }
    error_text_.clear();
  }
  connection_cap_ = std::max<std::size_t>(1, std::min(limits_.MaxConnections, ConnectionsTheDescriptorsAllow()));
  io_ = std::make_unique<asio::io_context>(1);
  acceptor_.emplace(*io_);
  retry_timer_.emplace(*io_);
  if ((listen.Tls && !LoadTls(*listen.Tls)) || !OpenAcceptor(port, listen.Address)) {
    retry_timer_.reset();
    acceptor_.reset();
    tls_.reset();
    io_.reset();
    connection_cap_ = 0;
    return false;
  }
  stopping_ = false;
  keep_running_.emplace(io_->get_executor());
  AcceptNext();
  try {
    StartWorkers();
    io_thread_ = std::thread([this] { RunIoLoop(); });
  } catch (const std::system_error& e) {
    JoinWorkers();
    std::lock_guard lock(mutex_);
    error_text_ = std::string("Could not start the HTTP server threads: ") + e.what();
    keep_running_.reset();
    retry_timer_.reset();
    acceptor_.reset();
    tls_.reset();
    io_.reset();
    port_ = 0;
    connection_cap_ = 0;
    return false;
  }
  std::lock_guard lock(mutex_);
  active_ = true;
  return true;
}

// The certificate chain and its key, and what the listener accepts: TLS 1.2
// and 1.3 only, without compression or renegotiation by the client.
bool THttpServer::Impl::LoadTls(const TTlsSettings& settings) {
  const auto fail = [this](const std::string& what) {
    std::lock_guard lock(mutex_);
    error_text_ = what;
    return false;
  };
  try {
    tls_.emplace(ssl::context::tls_server);
  } catch (const std::exception& e) {
    return fail(std::string("Could not set up TLS: ") + e.what());
  }
  SSL_CTX* native = tls_->native_handle();
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  SSL_CTX_set_options(native, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_SINGLE_DH_USE);
  if (SSL_CTX_set_cipher_list(native, kTls12Ciphers) != 1) {
    return fail("Could not set the TLS ciphers: " + OpenSslErrorText());
  }
  if (SSL_CTX_use_certificate_chain_file(native, settings.CertificateChainFile.c_str()) != 1) {
    return fail("Could not load the TLS certificate chain " + settings.CertificateChainFile + ": " +
                OpenSslErrorText());
  }
  if (SSL_CTX_use_PrivateKey_file(native, settings.PrivateKeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    return fail("Could not load the TLS private key " + settings.PrivateKeyFile + ": " + OpenSslErrorText());
  }
  if (SSL_CTX_check_private_key(native) != 1) {
    return fail("The TLS private key " + settings.PrivateKeyFile + " does not belong to the certificate: " +
                OpenSslErrorText());
  }
  return true;
}

// Every address: dual-stack IPv6 reaches IPv4 clients too; a host without IPv6
// gets IPv4 alone. One address (127.0.0.1 behind a local proxy): that one only.
bool THttpServer::Impl::OpenAcceptor(std::uint16_t port, const std::string& address) {
  error_code ec;
  tcp::endpoint endpoint(tcp::v6(), port);
  if (!address.empty()) {
    const asio::ip::address chosen = asio::ip::make_address(address, ec);
    if (ec) {
      std::lock_guard lock(mutex_);
      error_text_ = "Not an address to listen on: " + address;
      return false;
    }
    endpoint = tcp::endpoint(chosen, port);
    acceptor_->open(endpoint.protocol(), ec);
    if (!ec && chosen.is_v6()) acceptor_->set_option(asio::ip::v6_only(true), ec);
  } else {
    acceptor_->open(tcp::v6(), ec);
    if (!ec) acceptor_->set_option(asio::ip::v6_only(false), ec);
  }
  if (ec && address.empty()) {
    error_code ignored;
    acceptor_->close(ignored);
    ec.clear();
    endpoint = tcp::endpoint(tcp::v4(), port);
    acceptor_->open(tcp::v4(), ec);
  }
  if (!ec) acceptor_->set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_->bind(endpoint, ec);
  if (!ec) acceptor_->listen(asio::socket_base::max_listen_connections, ec);
  const tcp::endpoint bound = ec ? tcp::endpoint() : acceptor_->local_endpoint(ec);
  if (ec) {
    std::lock_guard lock(mutex_);
    error_text_ = "Could not listen on " + (address.empty() ? std::string() : address + " ") + "port " +
                  std::to_string(port) + ": " + ec.message();
    return false;
  }
  port_ = bound.port();
  return true;
}

void THttpServer::Impl::RunIoLoop() noexcept {
  // A failure inside one completion handler must not end the server's I/O.
  while (true) {
    try {
      io_->run();
      return;
    } catch (...) {
    }
  }
}

void THttpServer::Impl::AcceptNext() {
  acceptor_->async_accept([this](error_code ec, tcp::socket socket) { OnAccept(ec, std::move(socket)); });
}

void THttpServer::Impl::OnAccept(error_code ec, tcp::socket socket) {
  if (stopping_ || ec == asio::error::operation_aborted) return;
  if (ec) {
    // Out of descriptors and the like: retry shortly instead of spinning.
    retry_timer_->expires_after(std::chrono::milliseconds(100));
    retry_timer_->async_wait([this](error_code wait_ec) {
      if (!wait_ec && !stopping_) AcceptNext();
    });
    return;
  }
  error_code peer_ec;
  asio::ip::address address = socket.remote_endpoint(peer_ec).address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  std::shared_ptr<TConnection> newcomer;
  try {
    std::string peer = peer_ec ? std::string() : address.to_string();
    if (tls_) {
      newcomer = std::make_shared<TConnectionOf<true>>(*this, std::move(socket), std::move(peer));
    } else {
      newcomer = std::make_shared<TConnectionOf<false>>(*this, std::move(socket), std::move(peer));
    }
    newcomer->Start();
  } catch (const std::exception&) {
    // Out of memory: this connection is dropped, and the server goes on accepting.
    if (newcomer) newcomer->Close();
  }
  const std::size_t cap = connection_cap_.load();
  if (open_connections_.size() > cap) ShedLongestWaiting(newcomer.get());
  // Accepting goes on while there is room, or a connection to shed for the next
  // newcomer; otherwise every place is taken by a request being answered, and the
  // next connection to close resumes it.
  if (open_connections_.size() > cap || (open_connections_.size() == cap && awaiting_request_.empty())) {
    accept_paused_ = true;
    return;
  }
  AcceptNext();
}

// A client that trickles its request holds its place for up to the read time-out;
// enough of them would keep everybody else out. So the one that has waited longest
// gives way, as it is the likeliest never to finish. The newcomer itself is spared:
// shedding it would turn every arrival at a full server away.
void THttpServer::Impl::ShedLongestWaiting(const TConnection* newcomer) {
  while (!awaiting_request_.empty()) {
    const std::shared_ptr<TConnection> oldest = awaiting_request_.front().lock();
    if (!oldest) {
      awaiting_request_.pop_front();
      continue;
    }
    if (oldest.get() != newcomer) oldest->Close();
    return;
  }
}

void THttpServer::Impl::ConnectionClosed() {
  if (!accept_paused_ || stopping_) return;
  accept_paused_ = false;
  AcceptNext();
}

void THttpServer::Impl::ForgetExpiredConnections() {
  const auto expired = [](const std::weak_ptr<TConnection>& c) { return c.expired(); };
  std::erase_if(open_connections_, expired);
  std::erase_if(awaiting_request_, expired);
  ConnectionClosed();
}

void THttpServer::Impl::ConnectionStarted() {
  std::lock_guard lock(mutex_);
  ++live_connections_;
}

void THttpServer::Impl::ConnectionEnded() {
  std::lock_guard lock(mutex_);
  --live_connections_;
  all_closed_.notify_all();
}

void THttpServer::Impl::StartHandler(std::shared_ptr<TConnection> connection) {
  {
    std::lock_guard lock(queue_mutex_);
    waiting_for_handler_.push_back(std::move(connection));
  }
  queue_changed_.notify_one();
}

void THttpServer::Impl::StartWorkers() {
  {
    std::lock_guard lock(queue_mutex_);
    workers_stopping_ = false;
  }
  workers_.reserve(kHandlerThreads);
  for (std::size_t i = 0; i < kHandlerThreads; ++i) workers_.emplace_back([this] { RunWorker(); });
}

void THttpServer::Impl::RunWorker() noexcept {
  std::unique_lock lock(queue_mutex_);
  while (true) {
    queue_changed_.wait(lock, [this] { return workers_stopping_ || !waiting_for_handler_.empty(); });
    if (waiting_for_handler_.empty()) return;  // stopping, and nothing left to answer
    std::shared_ptr<TConnection> connection = std::move(waiting_for_handler_.front());
    waiting_for_handler_.pop_front();
    lock.unlock();
    connection->RunHandler();
    connection.reset();  // the connection may end here; that takes mutex_
    lock.lock();
  }
}

void THttpServer::Impl::CloseIdleConnections() {
  error_code ignored;
  acceptor_->close(ignored);
  retry_timer_->cancel();
  // Close erases only the connection's own entry, so the next one stays valid.
  for (auto entry = open_connections_.begin(); entry != open_connections_.end();) {
    const auto next = std::next(entry);
    if (const auto connection = entry->lock()) connection->CloseUnlessHandling();
    entry = next;
  }
}

void THttpServer::Impl::Deactivate() {
  std::lock_guard lifecycle(lifecycle_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (!active_) return;
  }
  stopping_ = true;
  asio::post(*io_, [this] { CloseIdleConnections(); });
  {
    std::unique_lock lock(mutex_);
    all_closed_.wait(lock, [this] { return live_connections_ == 0; });
  }
  keep_running_.reset();
  io_->stop();
  io_thread_.join();
  JoinWorkers();
  retry_timer_.reset();
  acceptor_.reset();
  io_.reset();
  tls_.reset();
  open_connections_.clear();
  awaiting_request_.clear();
  accept_paused_ = false;
  port_ = 0;
  connection_cap_ = 0;
  std::lock_guard lock(mutex_);
  active_ = false;
}

void THttpServer::Impl::JoinWorkers() {
  {
    std::lock_guard lock(queue_mutex_);
    workers_stopping_ = true;
  }
  queue_changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

THttpServer::THttpServer(THandler handler, THttpServerLimits limits)
    : impl_(std::make_unique<Impl>(std::move(handler), limits)) {}

THttpServer::~THttpServer() = default;

bool THttpServer::Activate(std::uint16_t port, const TListenSettings& listen) {
  return impl_->Activate(port, listen);
}
void THttpServer::Deactivate() { impl_->Deactivate(); }
std::uint16_t THttpServer::Port() const { return impl_->Port(); }
std::size_t THttpServer::ConnectionCap() const { return impl_->ConnectionCap(); }
std::string THttpServer::ErrorText() const { return impl_->ErrorText(); }

}  // namespace pelorin
