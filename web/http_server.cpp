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
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "web/request_reader.h"
#include "web/response_writer.h"

namespace pelorin {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

// Descriptors left for everything but connections: the listener and the I/O loop's
// own, the log and store files, and the pages and stylesheets that each of the
// handler threads may have open at once.
constexpr std::size_t kDescriptorsForFiles = 128;

// What this listener speaks, for checks that compare it with what a page claims
// (the cross-site check); a TLS listener would set "https".
constexpr char kListenerScheme[] = "http";

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

  bool Activate(std::uint16_t port);
  void Deactivate();
  std::uint16_t Port() const { return port_.load(); }
  std::size_t ConnectionCap() const { return connection_cap_.load(); }
  std::string ErrorText() const {
    std::lock_guard lock(mutex_);
    return error_text_;
  }

 private:
  class TConnection;
  // Oldest first; entries of connections that ended without Close are expired.
  using TConnectionList = std::list<std::weak_ptr<TConnection>>;

  bool OpenAcceptor(std::uint16_t port);
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

// One connection from accept to close. Lives in shared_ptrs held by its pending
// operations; every method but RunHandler and the destructor runs on the I/O thread.
class THttpServer::Impl::TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  TConnection(Impl& server, tcp::socket socket, std::string peer)
      : server_(server), stream_(std::move(socket)), peer_(std::move(peer)) {
    server_.ConnectionStarted();
  }
  ~TConnection();

  void Start();  // throws std::bad_alloc; Close then undoes it
  void CloseUnlessHandling();
  void RunHandler() noexcept;  // on a handler thread
  void Answer(std::string bytes);
  void Close();

 private:
  enum class TPhase { Reading, Handling, Writing, Lingering, Closed };
  static constexpr std::size_t kChunkSize = 8192;

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
  beast::tcp_stream stream_;
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

THttpServer::Impl::TConnection::~TConnection() {
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

void THttpServer::Impl::TConnection::Start() {
  open_entry_ = server_.open_connections_.insert(server_.open_connections_.end(), weak_from_this());
  awaiting_entry_ = server_.awaiting_request_.insert(server_.awaiting_request_.end(), weak_from_this());
  stream_.expires_after(server_.limits_.ReadTimeout);
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(
      std::min<std::size_t>(server_.limits_.HeaderLimit, std::numeric_limits<std::uint32_t>::max())));
  // The declared length is judged after the whole head is read, so that a request to
  // be dropped unanswered is dropped even when it announces a huge body.
  parser_->body_limit(boost::none);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](error_code ec, std::size_t) { self->OnHeader(ec); });
}

void THttpServer::Impl::TConnection::OnHeader(error_code ec) {
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

void THttpServer::Impl::TConnection::WriteContinue(bool until_close) {
  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  asio::async_write(stream_, asio::buffer(kContinue.data(), kContinue.size()),
                    [self = shared_from_this(), until_close](error_code ec, std::size_t) {
                      if (ec || self->server_.stopping_ || self->phase_ == TPhase::Closed) return self->Close();
                      self->ReadBody(until_close);
                    });
}

void THttpServer::Impl::TConnection::ReadBody(bool until_close) {
  if (until_close) return ReadUntilPeerCloses();
  parser_->body_limit(server_.limits_.BodyLimit);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](error_code ec, std::size_t) { self->OnBody(ec); });
}

void THttpServer::Impl::TConnection::OnBody(error_code ec) {
  if (ec == http::error::body_limit) return AnswerTooLarge();
  if (ec || server_.stopping_) return Close();
  Dispatch(std::move(parser_->get().body()));
}

void THttpServer::Impl::TConnection::ReadUntilPeerCloses() {
  body_ = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  if (body_.size() > server_.limits_.BodyLimit) return AnswerTooLarge();
  if (!MakeChunk()) return Close();
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = shared_from_this()](error_code ec, std::size_t count) { self->OnBodyBytes(ec, count); });
}

void THttpServer::Impl::TConnection::OnBodyBytes(error_code ec, std::size_t count) {
  body_.append(chunk_.get(), count);
  if (body_.size() > server_.limits_.BodyLimit) return AnswerTooLarge();
  if (ec == asio::error::eof && !server_.stopping_) return Dispatch(std::move(body_));
  if (ec || server_.stopping_) return Close();
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = shared_from_this()](error_code next_ec, std::size_t next) {
                            self->OnBodyBytes(next_ec, next);
                          });
}

bool THttpServer::Impl::TConnection::MakeChunk() {
  if (!chunk_) chunk_.reset(new (std::nothrow) char[kChunkSize]);
  return chunk_ != nullptr;
}

void THttpServer::Impl::TConnection::StopAwaitingRequest() {
  if (!awaiting_entry_) return;
  server_.awaiting_request_.erase(*awaiting_entry_);
  awaiting_entry_.reset();
}

void THttpServer::Impl::TConnection::Dispatch(std::string body) {
  std::optional<RequestInfo> request = AssembleRequest(head_, std::move(body), peer_);
  if (!request) return Close();
  request_ = std::move(*request);
  request_.Scheme = kListenerScheme;
  StopAwaitingRequest();
  phase_ = TPhase::Handling;
  stream_.expires_never();
  server_.StartHandler(shared_from_this());
}

void THttpServer::Impl::TConnection::RunHandler() noexcept {
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
    asio::post(stream_.get_executor(), [self = shared_from_this(),
                                        bytes = ComposeResponse(std::move(response), method_)]() mutable {
      self->Answer(std::move(bytes));
    });
  } catch (...) {
    // Out of memory while composing: the connection closes with nothing written.
    asio::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
  }
}

void THttpServer::Impl::TConnection::Answer(std::string bytes) {
  response_bytes_ = std::move(bytes);
  phase_ = TPhase::Writing;
  // Most responses fit the socket's buffer whole. Sent here without waiting, and held
  // back (MSG_MORE) until the shutdown in Linger adds the FIN, they leave in one
  // segment with it: the peer, reading until close, learns the end at once.
  error_code ec;
  tcp::socket& socket = stream_.socket();
  if (!socket.non_blocking()) socket.non_blocking(true, ec);
  const std::size_t sent = ec ? 0 : socket.send(asio::buffer(response_bytes_), MSG_MORE, ec);
  if (!ec && sent == response_bytes_.size()) return Linger();
  if (ec && ec != asio::error::would_block && ec != asio::error::try_again) return Close();
  stream_.expires_after(server_.limits_.WriteTimeout);
  asio::async_write(stream_, asio::buffer(response_bytes_) + sent,
                    [self = shared_from_this()](error_code write_ec, std::size_t) {
                      if (write_ec) return self->Close();
                      self->Linger();
                    });
}

void THttpServer::Impl::TConnection::AnswerTooLarge() {
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
void THttpServer::Impl::TConnection::Linger() {
  phase_ = TPhase::Lingering;
  error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.expires_after(server_.limits_.LingerTimeout);
  if (!MakeChunk()) return Close();
  DrainMore();
}

void THttpServer::Impl::TConnection::DrainMore() {
  stream_.async_read_some(asio::buffer(chunk_.get(), kChunkSize),
                          [self = shared_from_this()](error_code ec, std::size_t) {
                            if (ec || self->phase_ == TPhase::Closed) return self->Close();
                            self->DrainMore();
                          });
}

void THttpServer::Impl::TConnection::CloseUnlessHandling() {
  if (phase_ == TPhase::Reading || phase_ == TPhase::Lingering) Close();
}

// The operations still pending complete with an error and drop their hold; the
// descriptor and the place under the cap are free at once.
void THttpServer::Impl::TConnection::Close() {
  if (phase_ == TPhase::Closed) return;
  phase_ = TPhase::Closed;
  StopAwaitingRequest();
  if (open_entry_) {
    server_.open_connections_.erase(*open_entry_);
    open_entry_.reset();
  }
  error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
  server_.ConnectionClosed();
}

bool THttpServer::Impl::Activate(std::uint16_t port) {
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
  if (!OpenAcceptor(port)) {
    retry_timer_.reset();
    acceptor_.reset();
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
    io_.reset();
    port_ = 0;
    connection_cap_ = 0;
    return false;
  }
  std::lock_guard lock(mutex_);
  active_ = true;
  return true;
}

// Dual-stack IPv6 reaches IPv4 clients too; a host without IPv6 gets IPv4 alone.
bool THttpServer::Impl::OpenAcceptor(std::uint16_t port) {
  error_code ec;
  tcp::endpoint endpoint(tcp::v6(), port);
  acceptor_->open(tcp::v6(), ec);
  if (!ec) acceptor_->set_option(asio::ip::v6_only(false), ec);
  if (ec) {
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
    error_text_ = "Could not listen on port " + std::to_string(port) + ": " + ec.message();
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
    newcomer = std::make_shared<TConnection>(*this, std::move(socket), peer_ec ? std::string() : address.to_string());
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

bool THttpServer::Activate(std::uint16_t port) { return impl_->Activate(port); }
void THttpServer::Deactivate() { impl_->Deactivate(); }
std::uint16_t THttpServer::Port() const { return impl_->Port(); }
std::size_t THttpServer::ConnectionCap() const { return impl_->ConnectionCap(); }
std::string THttpServer::ErrorText() const { return impl_->ErrorText(); }

}  // namespace pelorin
