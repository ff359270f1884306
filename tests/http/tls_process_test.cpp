// HTTPS with the real executable: a self-signed certificate made at test time
// with the openssl command, a TLS client of its own (OpenSSL) that chooses the
// protocol versions it offers, and the plain port serving, redirecting or
// closed; the listen address; a certificate that cannot be loaded.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/http/server_process.h"

namespace pelorin::testing {
namespace {

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User></xUser>";

struct TSslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct TSslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

struct TTlsAnswer {
  bool Handshake = false;
  std::string Version;  // "TLSv1.3"...
  std::string Bytes;
};

// One request over TLS, offering only the versions from `min` to `max`; the
// certificate is not checked (it is the test's own).
TTlsAnswer TlsExchange(std::uint16_t port, const std::string& request, int min = TLS1_2_VERSION,
                       int max = TLS1_3_VERSION) {
  TTlsAnswer answer;
  std::unique_ptr<SSL_CTX, TSslCtxFree> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) return answer;
  SSL_CTX_set_min_proto_version(ctx.get(), min);
  SSL_CTX_set_max_proto_version(ctx.get(), max);
  // Old versions need the old security level to be offered at all.
  if (min < TLS1_2_VERSION) SSL_CTX_set_cipher_list(ctx.get(), "DEFAULT:@SECLEVEL=0");
  TSocket socket(ConnectLoopback(port));
  if (socket.get() < 0) return answer;
  std::unique_ptr<SSL, TSslFree> ssl(SSL_new(ctx.get()));
  SSL_set_fd(ssl.get(), socket.get());
  if (SSL_connect(ssl.get()) != 1) {
    ERR_clear_error();
    return answer;
  }
  answer.Handshake = true;
  answer.Version = SSL_get_version(ssl.get());
  if (SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) <= 0) return answer;
  char buffer[4096];
  for (;;) {
    const int read = SSL_read(ssl.get(), buffer, sizeof buffer);
    if (read <= 0) break;
    answer.Bytes.append(buffer, static_cast<std::size_t>(read));
  }
  ERR_clear_error();
  return answer;
}

std::string GetRequest(std::uint16_t port, const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nAuthorization: " + BasicCredentials("bob", "pw") + "\r\n" + extra + "Connection: close\r\n\r\n";
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout '" +
                                app_.File("tls/key.pem") + "' -out '" + app_.File("tls/chain.pem") +
                                "' >/dev/null 2>&1";
    std::filesystem::create_directories(app_.File("tls"));
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    WriteFile(app_.File("pelorin/base.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase><vCard><FN>Kept</FN><OWNER>bob</OWNER>"
              "<ID>1</ID></vCard></xBase>");
    WriteFile(app_.File("user/user.xml"), kUsers);
    WriteFile(app_.File("pelorin/names.vcf.xsl"), kNamesStylesheet);
  }
  void Configure(const std::string& extra) {
    WriteFile(app_.File("config/config.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xConfig><ServiceProviderPort>" + std::to_string(port_) +
                  "</ServiceProviderPort><HttpsPort>" + std::to_string(tls_port_) +
                  "</HttpsPort><HttpsCertificateChain>tls/chain.pem</HttpsCertificateChain>"
                  "<HttpsPrivateKey>tls/key.pem</HttpsPrivateKey>" +
                  extra + "</xConfig>");
  }
  void Start(const std::string& extra = "") {
    Configure(extra);
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(tls_port_)) << app_.LogText();
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::uint16_t tls_port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
};

TEST_F(TlsTest, PagesAndChangesOverTls12And13AndNothingOlder) {
  Start();
  for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    const TTlsAnswer answer = TlsExchange(tls_port_, GetRequest(tls_port_, "/pelorin/names.vcf"), version, version);
    ASSERT_TRUE(answer.Handshake) << version;
    const THttpAnswer http = ParseAnswer(answer.Bytes);
    EXPECT_EQ(200, http.Status) << version;
    EXPECT_EQ("Kept|", http.Body) << version;
  }
  for (const int version : {TLS1_VERSION, TLS1_1_VERSION}) {
    EXPECT_FALSE(TlsExchange(tls_port_, GetRequest(tls_port_, "/"), version, version).Handshake) << version;
  }
  // A form post of the HTTPS page names the HTTPS site as its origin: no cross-site refusal.
  const std::string body = "Command=insert&XML=%3CvCard%3E%3CFN%3EOver+TLS%3C%2FFN%3E%3C%2FvCard%3E&Redirect=index.htm";
  const std::string post = "POST /pelorin/index.htm HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(tls_port_) +
                           "\r\nAuthorization: " + BasicCredentials("bob", "pw") + "\r\nOrigin: https://127.0.0.1:" +
                           std::to_string(tls_port_) +
                           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  EXPECT_EQ(302, ParseAnswer(TlsExchange(tls_port_, post).Bytes).Status);
  // The same origin sent to the plain port names another site (another scheme).
  const std::string plain_post = "POST /pelorin/index.htm HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                 "\r\nAuthorization: " + BasicCredentials("bob", "pw") +
                                 "\r\nOrigin: https://127.0.0.1:" + std::to_string(port_) + "\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  const THttpAnswer refused = ParseAnswer(Exchange(port_, plain_post));
  EXPECT_EQ(403, refused.Status);
  EXPECT_EQ("Cross-site request refused.", refused.Body);
  EXPECT_EQ("Kept|Over TLS|", Request(port_, "GET", "/pelorin/names.vcf", "bob", "pw").Body);
}

TEST_F(TlsTest, PlainHttpCanRedirectToHttpsBeforeAnyPasswordIsAskedFor) {
  Start("<PlainHttp>redirect</PlainHttp>");
  ASSERT_TRUE(server_->WaitForPort(port_));
  const THttpAnswer redirect =
      ParseAnswer(Exchange(port_, "GET /pelorin/index.htm?ID=7 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                      "\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(308, redirect.Status);
  EXPECT_EQ("https://127.0.0.1:" + std::to_string(tls_port_) + "/pelorin/index.htm?ID=7",
            HeaderOf(redirect, "Location"));
  EXPECT_EQ("", HeaderOf(redirect, "WWW-Authenticate"));
  // With credentials too: nothing of the account is looked at over plain HTTP.
  EXPECT_EQ(308, Request(port_, "GET", "/pelorin/names.vcf", "bob", "pw").Status);
  EXPECT_EQ(200, ParseAnswer(TlsExchange(tls_port_, GetRequest(tls_port_, "/pelorin/names.vcf")).Bytes).Status);
}

TEST_F(TlsTest, PlainHttpCanBeOffAndBothCanListenOnOneAddress) {
  Start("<PlainHttp>off</PlainHttp><ListenAddress>127.0.0.1</ListenAddress>");
  EXPECT_LT(ConnectLoopback(port_), 0);
  EXPECT_LT(ConnectLoopbackV6(tls_port_), 0);  // 127.0.0.1 alone, not ::1
  EXPECT_EQ(200, ParseAnswer(TlsExchange(tls_port_, GetRequest(tls_port_, "/pelorin/names.vcf")).Bytes).Status);
}

TEST_F(TlsTest, PlainBytesOnTheTlsPortAndSilentClientsAreClosed) {
  Start();
  // Plain HTTP to the TLS port: the handshake fails and the connection closes
  // without an answer in plain text.
  EXPECT_FALSE(Exchange(tls_port_, GetRequest(tls_port_, "/pelorin/names.vcf")).starts_with("HTTP"));
  // A client that opens the connection and says nothing is closed after the
  // handshake time-out (10 s), not the request's 30 s.
  TSocket silent(ConnectLoopback(tls_port_));
  ASSERT_GE(silent.get(), 0);
  const auto begin = std::chrono::steady_clock::now();
  char byte;
  EXPECT_LE(::recv(silent.get(), &byte, 1, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(25));
  // The service still serves.
  EXPECT_EQ(200, ParseAnswer(TlsExchange(tls_port_, GetRequest(tls_port_, "/pelorin/names.vcf")).Bytes).Status);
}

TEST_F(TlsTest, ACertificateThatCannotBeLoadedStopsTheStartWithTheReason) {
  std::filesystem::remove(app_.File("tls/key.pem"));
  Configure("");
  TServerProcess server(app_.Executable());
  EXPECT_NE(std::optional<int>(0), server.WaitForExit());
  const std::string log = app_.LogText();
  EXPECT_NE(std::string::npos, log.find("Unable to activate HTTPS server: Could not load the TLS private key " +
                                        app_.File("tls/key.pem")))
      << log;
}

}  // namespace
}  // namespace pelorin::testing
