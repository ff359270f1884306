// Requests per second over TLS and over plain TCP, from the same client code:
// each request on a connection of its own (the server closes after every
// answer), with a full TLS handshake each time, its answer read to the end.
// wrk cannot be used for TLS here: the answers end where the connection ends,
// and wrk takes the TLS close_notify for a read error.
//
// Usage: pelorin_tls_load PORT tls|plain SECONDS CONNECTIONS "Basic ..."
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};
struct TSslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// One request; true when an answer beginning "HTTP/1.1 200" came back whole.
bool OneRequest(int port, SSL_CTX* ctx, const std::string& request) {
  TFd socket{Connect(port)};
  if (socket.fd < 0) return false;
  std::string answer;
  char buffer[4096];
  if (ctx == nullptr) {
    if (::send(socket.fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) return false;
    for (ssize_t n; (n = ::recv(socket.fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  } else {
    std::unique_ptr<SSL, TSslFree> ssl(SSL_new(ctx));
    SSL_set_fd(ssl.get(), socket.fd);
    if (SSL_connect(ssl.get()) != 1 ||
        SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) <= 0) {
      ERR_clear_error();
      return false;
    }
    for (int n; (n = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
    ERR_clear_error();
  }
  return answer.rfind("HTTP/1.1 200", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s PORT tls|plain SECONDS CONNECTIONS AUTHORIZATION\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const bool tls = std::strcmp(argv[2], "tls") == 0;
  const auto duration = std::chrono::seconds(std::atoi(argv[3]));
  const int connections = std::atoi(argv[4]);
  const std::string request = "GET /x.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + std::string(argv[5]) +
                              "\r\nConnection: close\r\n\r\n";
  SSL_CTX* ctx = tls ? SSL_CTX_new(TLS_client_method()) : nullptr;
  std::atomic<long> done{0}, failed{0};
  const auto end = std::chrono::steady_clock::now() + duration;
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) {
    threads.emplace_back([&] {
      while (std::chrono::steady_clock::now() < end) ++(OneRequest(port, ctx, request) ? done : failed);
    });
  }
  for (std::thread& thread : threads) thread.join();
  if (ctx != nullptr) SSL_CTX_free(ctx);
  std::printf("%.1f %ld\n", static_cast<double>(done) / static_cast<double>(duration.count()), failed.load());
  return failed > done / 100 ? 1 : 0;
}
