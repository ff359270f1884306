// Black-box tests of THttpServer: raw sockets on 127.0.0.1 send requests and read
// back the exact bytes the server writes before it closes.
#include "web/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace pelorin {
namespace {

using namespace std::chrono_literals;

class TClientSocket {
 public:
  explicit TClientSocket(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    // A server that neither answers nor closes fails the test instead of hanging it.
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~TClientSocket() { close(fd_); }
  TClientSocket(const TClientSocket&) = delete;
  TClientSocket& operator=(const TClientSocket&) = delete;

  bool Connected() const { return connected_; }
  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return;  // the server may close early; the reply tells the rest
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }
  void ShutdownSending() { shutdown(fd_, SHUT_WR); }

  // True once the server has closed or reset the connection, false if it is still
  // open after the wait. Reads nothing the server sent, so only for silent peers.
  bool ClosedWithin(std::chrono::milliseconds wait) {
    pollfd entry{fd_, POLLIN | POLLRDHUP, 0};
    if (poll(&entry, 1, static_cast<int>(wait.count())) <= 0) return false;
    char byte = 0;
    const ssize_t count = recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

  // Everything up to the server's close; "<timeout>" appended when it never closed.
  std::string ReadUntilClose() {
    std::string received;
    char chunk[4096];
    while (true) {
      const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
      if (count > 0) {
        received.append(chunk, static_cast<std::size_t>(count));
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) received += "<timeout>";
      return received;
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Exchange(std::uint16_t port, std::string_view request, bool close_sending = false) {
  TClientSocket client(port);
  EXPECT_TRUE(client.Connected());
  client.Send(request);
  if (close_sending) client.ShutdownSending();
  return client.ReadUntilClose();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string joined;
  for (const auto& item : items) joined += "[" + item + "]";
  return joined;
}

// Echoes what the dispatcher would see, so each test can check the request fields.
void EchoRequest(RequestInfo& request, ResponseInfo& response) {
  response.BodyType = "text/plain";
  response.Body = request.Method + "|" + request.Path + "|" + request.Protocol + "|" + request.HostName + "|" +
                  request.PeerAddress + "|" + request.UserName + "|" + request.Password + "|" + request.RawParams +
                  "|" + Joined(request.FormFields);
}

std::string PlainResponse(std::string_view body) {
  return "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

class HttpServerTest : public testing::Test {
 protected:
  THttpServer& Start(THttpServer::THandler handler, THttpServerLimits limits = {}) {
    server_ = std::make_unique<THttpServer>(
        [this, handler = std::move(handler)](RequestInfo& request, ResponseInfo& response) {
          ++handler_calls_;
          handler(request, response);
        },
        limits);
    EXPECT_TRUE(server_->Activate(0)) << server_->ErrorText();
    EXPECT_NE(0, server_->Port());
    return *server_;
  }
  std::uint16_t Port() const { return server_->Port(); }

  std::atomic<int> handler_calls_{0};
  std::unique_ptr<THttpServer> server_;
};

TEST_F(HttpServerTest, GetReachesHandlerAndIsAnsweredExactly) {
  Start(EchoRequest);
  const std::string reply = Exchange(Port(),
                                     "GET /pelorin/list.htm?a=1&b=x%26y HTTP/1.1\r\nHost: book:9555\r\n"
                                     "Authorization: Basic dXNlcjpwOmFzcw==\r\n\r\n");
  EXPECT_EQ(PlainResponse("GET|/pelorin/list.htm|HTTP/1.1|book:9555|127.0.0.1|user|p:ass|a=1&b=x%26y|[a=1][b=x&y]"),
            reply);
}

TEST_F(HttpServerTest, LowerCaseMethodIsUpperCased) {
  Start(EchoRequest);
  EXPECT_EQ(PlainResponse("GET|/a|HTTP/1.0||127.0.0.1||||"), Exchange(Port(), "get /a HTTP/1.0\r\n\r\n"));
}

TEST_F(HttpServerTest, TargetsReachHandlerAsPaths) {
  Start([](RequestInfo& request, ResponseInfo& response) { response.Body = request.Path + "|" + request.HostName; });
  const struct { const char* target; const char* want; } cases[] = {
      {"\\pelorin\\index.htm", "/pelorin/index.htm|"},
      {"http://book:8080/a/b?x=1", "/a/b|book:8080"},
      {"a/b#c", "/a/b|"},
      {"/%2e%2e/x%20y", "/%2e%2e/x%20y|"},
      {"*", "*|"},
  };
  for (const auto& c : cases) {
    const std::string reply = Exchange(Port(), std::string("GET ") + c.target + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(c.want, reply.substr(std::min(reply.size(), reply.find("\r\n\r\n") + 4))) << c.target;
  }
}

TEST_F(HttpServerTest, PostBodyIsJoinedWithQuery) {
  Start(EchoRequest);
  const std::string reply =
      Exchange(Port(), "POST /x.htm?q=2 HTTP/1.1\r\nContent-Length: 17\r\n\r\nCommand=insert&X=");
  EXPECT_EQ(PlainResponse("POST|/x.htm|HTTP/1.1||127.0.0.1|||Command=insert&X=\r\nq=2|[Command=insert][X=\r\nq=2]"),
            reply);
}

TEST_F(HttpServerTest, PostWithoutLengthReadsUntilPeerCloses) {
  Start(EchoRequest);
  const std::string reply = Exchange(Port(), "POST / HTTP/1.1\r\n\r\na=1&b=2", /*close_sending=*/true);
  EXPECT_EQ(PlainResponse("POST|/|HTTP/1.1||127.0.0.1|||a=1&b=2|[a=1][b=2]"), reply);
}

TEST_F(HttpServerTest, ChunkedPostBodyIsDecoded) {
  Start(EchoRequest);
  const std::string reply =
      Exchange(Port(), "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\na=1\r\n4\r\n&b=2\r\n0\r\n\r\n");
  EXPECT_EQ(PlainResponse("POST|/|HTTP/1.1||127.0.0.1|||a=1&b=2|[a=1][b=2]"), reply);
}

TEST_F(HttpServerTest, HeadGetsHeadersWithoutBody) {
  Start(EchoRequest);
  const std::string body = "HEAD|/a|HTTP/1.1||127.0.0.1||||";
  const std::string full = PlainResponse(body);
  EXPECT_EQ(full.substr(0, full.size() - body.size()), Exchange(Port(), "HEAD /a HTTP/1.1\r\n\r\n"));
}

TEST_F(HttpServerTest, ChallengeAndRedirectFromHandler) {
  Start([](RequestInfo& request, ResponseInfo& response) {
    response.AddRawHeader("Cache-Control: max-age=0");
    if (request.Path == "/logout") return response.RedirectTo("../pelorin/index.htm");
    response.Realm = "Please select your account.";
    response.Body = "Account required.";
  });
  EXPECT_EQ(
      "HTTP/1.1 401 Unauthorized\r\nCache-Control: max-age=0\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\n"
      "Content-Length: 17\r\nWWW-Authenticate: Basic realm=\"Please select your account.\"\r\n\r\nAccount required.",
      Exchange(Port(), "GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(
      "HTTP/1.1 302 Moved Temporarily\r\nCache-Control: max-age=0\r\nLocation: ../pelorin/index.htm\r\n"
      "Server: Pelorin/1.0.1\r\nContent-Type: text/html\r\n\r\n",
      Exchange(Port(), "GET /logout HTTP/1.1\r\n\r\n"));
}

// Far more than a socket buffer takes at once: the part the first send leaves must
// follow in order, and the close must wait for the last byte.
TEST_F(HttpServerTest, ResponseLargerThanSocketBufferArrivesWhole) {
  std::string body(8 * 1024 * 1024, 'x');
  for (std::size_t i = 0; i < body.size(); i += 4096) body[i] = static_cast<char>('a' + (i / 4096) % 26);
  Start([&body](RequestInfo&, ResponseInfo& response) {
    response.BodyType = "text/plain";
    response.Body = body;
  });
  const std::string reply = Exchange(Port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(PlainResponse(body).size(), reply.size());
  EXPECT_TRUE(reply == PlainResponse(body));
}

// More requests than there are handler threads, all waiting inside the handler until
// the last has arrived would deadlock; fewer than the pool must all get in at once,
// and the ones beyond it are answered once a thread is free.
TEST_F(HttpServerTest, ManyConcurrentRequestsAreAllAnswered) {
  constexpr int kTogether = 24;
  constexpr int kRequests = 100;
  std::mutex mutex;
  std::condition_variable changed;
  int arrived = 0;
  Start([&](RequestInfo& request, ResponseInfo& response) {
    std::unique_lock lock(mutex);
    ++arrived;
    changed.notify_all();
    const bool met = changed.wait_for(lock, 10s, [&] { return arrived >= kTogether; });
    response.Body = met ? request.Path : "alone";
  });
  std::vector<std::future<std::string>> replies;
  for (int i = 0; i < kRequests; ++i) {
    replies.push_back(std::async(std::launch::async, [this, i] {
      return Exchange(Port(), "GET /" + std::to_string(i) + " HTTP/1.1\r\n\r\n");
    }));
  }
  for (int i = 0; i < kRequests; ++i) {
    std::string path = "/";
    path += std::to_string(i);  // "/" + to_string trips gcc 12's -Wrestrict false alarm at -O2
    EXPECT_EQ("HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: " +
                  std::to_string(path.size()) + "\r\n\r\n" + path,
              replies[static_cast<std::size_t>(i)].get());
  }
  EXPECT_EQ(kRequests, handler_calls_.load());
}

TEST_F(HttpServerTest, HandlerFailureIsAnswered500WithMessage) {
  Start([](RequestInfo&, ResponseInfo& response) {
    response.AddRawHeader("Cache-Control: max-age=0");
    throw std::runtime_error("Account store unreadable");
  });
  EXPECT_EQ(
      "HTTP/1.1 500 Internal Server Error\r\nCache-Control: max-age=0\r\nServer: Pelorin/1.0.1\r\n"
      "Content-Type: text/html\r\nContent-Length: 24\r\n\r\nAccount store unreadable",
      Exchange(Port(), "GET / HTTP/1.1\r\n\r\n"));
}

TEST_F(HttpServerTest, ClosedWithoutResponse) {
  Start(EchoRequest);
  for (const std::string& request : std::vector<std::string>{
           "GET/index.htm\r\n\r\n",                                 // no space in the request line
           "PUT /a HTTP/1.1\r\nContent-Length: 1\r\n\r\nx",          // method not served
           "DELETE /a HTTP/1.1\r\n\r\n",
           "GET /a HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n",      // not Basic
           "GET /a HTTP/1.1\r\nContent-Length: 1x\r\n\r\n",          // unreadable length
           "GET /a HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n",  // over the header limit
       }) {
    EXPECT_EQ("", Exchange(Port(), request)) << request;
  }
  EXPECT_EQ(0, handler_calls_.load());
}

TEST_F(HttpServerTest, RequestsOverlapInTheHandler) {
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  Start([&](RequestInfo&, ResponseInfo& response) {
    std::unique_lock lock(mutex);
    ++inside;
    changed.notify_all();
    // Each request waits for the other to arrive: one at a time, both would time out.
    const bool met = changed.wait_for(lock, 10s, [&] { return inside >= 2; });
    response.Body = met ? "together" : "alone";
  });
  auto first = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /1 HTTP/1.1\r\n\r\n"); });
  auto second = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /2 HTTP/1.1\r\n\r\n"); });
  const std::string want =
      "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\ntogether";
  EXPECT_EQ(want, first.get());
  EXPECT_EQ(want, second.get());
}

TEST_F(HttpServerTest, BodyOverLimitIsAnswered413) {
  THttpServerLimits limits;
  limits.BodyLimit = 16;
  Start(EchoRequest, limits);
  const std::string too_large =
      "HTTP/1.1 413 Payload Too Large\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/plain\r\n"
      "Content-Length: 23\r\n\r\nRequest body too large.";
  EXPECT_EQ(too_large, Exchange(Port(), "POST / HTTP/1.1\r\nContent-Length: 17\r\n\r\n"));  // declared
  EXPECT_EQ(too_large, Exchange(Port(), "POST / HTTP/1.1\r\n\r\n" + std::string(4000, 'a'), true));
  EXPECT_EQ(too_large, Exchange(Port(), "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                        "10\r\naaaaaaaaaaaaaaaa\r\n1\r\na\r\n0\r\n\r\n"));
  EXPECT_EQ(0, handler_calls_.load());
  const std::string at_limit = "a=aaaaaaaaaaaaaa";
  EXPECT_EQ(PlainResponse("POST|/|HTTP/1.1||127.0.0.1|||" + at_limit + "|[" + at_limit + "]"),
            Exchange(Port(), "POST / HTTP/1.1\r\nContent-Length: 16\r\n\r\n" + at_limit));
}

TEST_F(HttpServerTest, IdleConnectionIsClosedAfterReadTimeout) {
  THttpServerLimits limits;
  limits.ReadTimeout = 200ms;
  Start(EchoRequest, limits);
  TClientSocket idle(Port());
  ASSERT_TRUE(idle.Connected());
  EXPECT_EQ("", idle.ReadUntilClose());  // closed by the server, well before the client's 10 s
  TClientSocket trickling(Port());
  trickling.Send("GET / HT");
  EXPECT_EQ("", trickling.ReadUntilClose());
  EXPECT_EQ(0, handler_calls_.load());
}

// Clients that send their request a byte at a time would, at the cap, keep every
// other client waiting for the whole read time-out (30 s, beyond the clients' 10 s
// here). Each newcomer instead sheds the connection that has waited longest.
TEST_F(HttpServerTest, TricklingClientsAtTheCapGiveWayOldestFirst) {
  THttpServerLimits limits;
  limits.MaxConnections = 4;
  Start(EchoRequest, limits);
  ASSERT_EQ(4u, server_->ConnectionCap());
  std::vector<std::unique_ptr<TClientSocket>> trickling;
  for (int i = 0; i < 10; ++i) {
    trickling.push_back(std::make_unique<TClientSocket>(Port()));
    ASSERT_TRUE(trickling.back()->Connected());
    trickling.back()->Send("GET /slow HT");
  }
  EXPECT_EQ(PlainResponse("GET|/prompt|HTTP/1.1||127.0.0.1||||"), Exchange(Port(), "GET /prompt HTTP/1.1\r\n\r\n"));
  // Ten trickling and one prompt client through four places: the seven oldest gave way.
  for (std::size_t i = 0; i < 7; ++i) EXPECT_TRUE(trickling[i]->ClosedWithin(5s)) << "client " << i;
  for (std::size_t i = 7; i < 10; ++i) EXPECT_FALSE(trickling[i]->ClosedWithin(200ms)) << "client " << i;
  EXPECT_EQ(1, handler_calls_.load());
}

// The slow request is still answered when it completes before anyone needs its place.
TEST_F(HttpServerTest, TricklingClientBelowTheCapIsAnswered) {
  THttpServerLimits limits;
  limits.MaxConnections = 2;
  Start(EchoRequest, limits);
  TClientSocket slow(Port());
  ASSERT_TRUE(slow.Connected());
  for (const char part : std::string_view("GET /slow HTTP/1.1\r\n\r\n")) {
    slow.Send(std::string(1, part));
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(PlainResponse("GET|/slow|HTTP/1.1||127.0.0.1||||"), slow.ReadUntilClose());
}

// Requests already handed to the handler, and responses still being written, keep
// their connections however many newcomers arrive.
TEST_F(HttpServerTest, ConnectionsPastReadingAreNeverShed) {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;
  const std::string big(8 * 1024 * 1024, 'b');
  THttpServerLimits limits;
  limits.MaxConnections = 2;
  Start(
      [&](RequestInfo& request, ResponseInfo& response) {
        response.BodyType = "text/plain";
        if (request.Path == "/big") {
          response.Body = big;
          return;
        }
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, 10s, [&] { return released; });
        response.Body = released ? "held" : "never released";
      },
      limits);
  // The big response fills the socket buffers of a client that does not read yet.
  TClientSocket writing(Port());
  ASSERT_TRUE(writing.Connected());
  writing.Send("GET /big HTTP/1.1\r\n\r\n");
  auto held = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /held HTTP/1.1\r\n\r\n"); });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return entered; }));
  }
  std::vector<std::unique_ptr<TClientSocket>> trickling;
  for (int i = 0; i < 6; ++i) {
    trickling.push_back(std::make_unique<TClientSocket>(Port()));
    trickling.back()->Send("GET / HT");
  }
  // Both places are taken by requests past reading, so the newcomers wait; none of
  // them may push the two out.
  EXPECT_FALSE(trickling.front()->ClosedWithin(300ms));
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  EXPECT_EQ(PlainResponse("held"), held.get());
  EXPECT_TRUE(writing.ReadUntilClose() == PlainResponse(big));
  EXPECT_EQ(2, handler_calls_.load());
}

// When every place is taken by a request being answered, accepting pauses and the
// next close resumes it: the client that waited is answered, not lost.
TEST_F(HttpServerTest, AcceptingResumesWhenAPlaceFrees) {
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  bool released = false;
  THttpServerLimits limits;
  limits.MaxConnections = 1;
  Start(
      [&](RequestInfo& request, ResponseInfo& response) {
        response.Body = request.Path;
        if (request.Path != "/hold") return;
        std::unique_lock lock(mutex);
        ++inside;
        changed.notify_all();
        changed.wait_for(lock, 10s, [&] { return released; });
      },
      limits);
  // The second connects only once the first is being answered: a newcomer at a full
  // server sheds a connection still waiting for its request, which the first would
  // be if its bytes had not been read yet.
  const auto wait_inside = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return inside == count; });
  };
  auto first = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /hold HTTP/1.1\r\n\r\n"); });
  ASSERT_TRUE(wait_inside(1));
  auto second = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /hold HTTP/1.1\r\n\r\n"); });
  ASSERT_TRUE(wait_inside(2));
  auto waiting = std::async(std::launch::async, [&] { return Exchange(Port(), "GET /w HTTP/1.1\r\n\r\n"); });
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(2, handler_calls_.load());  // the third waits while both are inside
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  const std::string held = "HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\n/hold";
  EXPECT_EQ(held, first.get());
  EXPECT_EQ(held, second.get());
  EXPECT_EQ("HTTP/1.1 200 OK\r\nServer: Pelorin/1.0.1\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\n/w",
            waiting.get());
}

TEST_F(HttpServerTest, DeactivateClosesConnectionsStillReading) {
  THttpServer& server = Start(EchoRequest);
  std::vector<std::unique_ptr<TClientSocket>> trickling;
  for (int i = 0; i < 3; ++i) {
    trickling.push_back(std::make_unique<TClientSocket>(Port()));
    trickling.back()->Send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nab");
  }
  auto deactivation = std::async(std::launch::async, [&] { server.Deactivate(); });
  for (auto& client : trickling) EXPECT_EQ("", client->ReadUntilClose());
  deactivation.get();
  EXPECT_EQ(0, handler_calls_.load());
}

// In a child process: lowers the descriptor limit, activates a server and exits 0
// when the soft limit was raised to the hard one and the cap fits it.
[[noreturn]] void CheckCapUnderLimit(rlim_t soft, rlim_t hard, std::size_t max_connections, std::size_t cap_below) {
  rlimit limit{soft, hard};
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    std::fprintf(stderr, "cannot lower the limit\n");
    std::_Exit(1);
  }
  THttpServerLimits limits;
  limits.MaxConnections = max_connections;
  THttpServer server(EchoRequest, limits);
  if (!server.Activate(0)) {
    std::fprintf(stderr, "%s\n", server.ErrorText().c_str());
    std::_Exit(1);
  }
  getrlimit(RLIMIT_NOFILE, &limit);
  const std::size_t cap = server.ConnectionCap();
  server.Deactivate();
  const bool ceiling_wins = max_connections < cap_below;
  if (limit.rlim_cur != hard || cap == 0 || cap >= cap_below || (ceiling_wins && cap != max_connections) ||
      server.ConnectionCap() != 0) {
    std::fprintf(stderr, "soft limit %llu, cap %zu\n", static_cast<unsigned long long>(limit.rlim_cur), cap);
    std::_Exit(1);
  }
  std::_Exit(0);
}

// The cap follows the descriptor limit, whose soft value Activate raises to the
// hard one first. Run in a child process, whose limits can be lowered for good.
TEST(HttpServerDescriptorTest, CapFitsTheDescriptorLimit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    rlim_t soft;
    rlim_t hard;
    std::size_t max_connections;
    std::size_t cap_below;
  } cases[] = {
      {100, 400, 16384, 400},  // the soft limit is raised, and the cap leaves room for files
      {400, 400, 16384, 400},
      {100, 400, 50, 400},     // a smaller ceiling wins
      {20, 40, 16384, 40},     // even a tiny limit leaves some room
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(CheckCapUnderLimit(c.soft, c.hard, c.max_connections, c.cap_below), testing::ExitedWithCode(0), "")
        << c.soft << "/" << c.hard << " " << c.max_connections;
  }
}

}  // namespace
}  // namespace pelorin
