// Hostile requests sent raw to the real executable: entity tricks in record
// fragments, bodies and heads beyond the limits, NUL bytes, paths that try to
// leave the application directory, overlong UTF-8 and XPath built to run long.
// Each must end in its exact outcome, leave the server answering and leave the
// stores as they were; no byte of a file outside the application directory may
// come back.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/form_encode.h"
#include "tests/http/server_process.h"
#include "xml/quickdom.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>"
    "<User><USER>admin</USER><PASSWORD>admin</PASSWORD><NAME>Administrator</NAME><ADMIN/></User>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob</NAME></User>"
    "</xUser>";
constexpr char kCards[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>"
    "<vCard><FN>Kept Card</FN><OWNER>bob</OWNER><ID>1</ID></vCard>"
    "</xBase>";
// The whole text of the card store, after the request's field "q" in brackets:
// whatever reached the store or the stylesheet's parameters shows up here.
constexpr char kDumpStylesheet[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "  <xsl:output method=\"text\"/>\n"
    "  <xsl:param name=\"q\"/>\n"
    "  <xsl:template match=\"/\">[<xsl:value-of select=\"$q\"/>]<xsl:value-of select=\".\"/></xsl:template>\n"
    "</xsl:stylesheet>\n";
constexpr char kDumpPage[] = "/pelorin/dump.vcf";
constexpr char kDumpOfTheCards[] = "[]Kept Cardbob1";
// The server's limit on the request line and headers together.
constexpr std::size_t kHeadLimit = 64 * 1024;
constexpr auto kFewSeconds = std::chrono::seconds(6);

// The store as the service writes it when nothing has changed it.
std::string SavedForm(const std::string& path) {
  TQuickDom dom;
  if (dom.LoadFromFile(path) != 0) return "unreadable " + path;
  return dom.SaveToString();
}

// The store text with each password's text replaced by its kind: "yescrypt"
// for such a hash, else "clear" (or "yescrypt" for every one, for the form a
// store is expected to reach). The service hashes clear passwords with a
// fresh salt, so only the kind can be compared.
std::string WithPasswordKinds(std::string text, bool all_as_hashes) {
  for (std::size_t at = text.find("<PASSWORD>"); at != std::string::npos; at = text.find("<PASSWORD>", at + 1)) {
    const std::size_t start = at + 10;
    const std::size_t end = text.find("</PASSWORD>", start);
    if (end == std::string::npos) break;
    const bool hash = all_as_hashes || text.compare(start, 3, "$y$") == 0;
    text.replace(start, end - start, hash ? "yescrypt" : "clear");
  }
  return text;
}

// The peak resident memory of a process, in kB.
long PeakMemoryKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A listener that nobody should ever connect to: the address of an external
// entity or document type.
class TTrapListener {
 public:
  TTrapListener() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_.get(), 8) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("no trap listener");
    }
    port_ = ntohs(address.sin_port);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  // True when a connection is waiting to be accepted.
  bool WasCalled() const {
    pollfd waiting{socket_.get(), POLLIN, 0};
    return ::poll(&waiting, 1, 0) > 0;
  }

 private:
  TSocket socket_;
  std::uint16_t port_ = 0;
};

enum class TFraming { kDeclaredLength, kChunked, kUntilClose };

struct TStreamed {
  std::string Answer;
  std::uint64_t Sent = 0;  // body bytes handed to the socket
};

// Sends `head` and then `total` body bytes piece by piece, reading whatever comes
// back meanwhile. Sending stops once an answer has begun or the server has closed;
// only one piece is ever held in memory.
TStreamed StreamBody(std::uint16_t port, const std::string& head, std::uint64_t total, TFraming framing) {
  TStreamed streamed;
  TSocket socket(ConnectLoopback(port));
  if (socket.get() < 0) return streamed;
  const std::string piece(64 * 1024, 'x');
  std::string pending = head;
  std::size_t offset = 0;
  bool sending = true;
  bool body_done = false;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    if (sending && offset == pending.size()) {
      pending.clear();
      offset = 0;
      if (streamed.Sent < total) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), total - streamed.Sent));
        if (framing == TFraming::kChunked) {
          char size[32];
          std::snprintf(size, sizeof size, "%zx\r\n", n);
          pending = size + piece.substr(0, n) + "\r\n";
        } else {
          pending = piece.substr(0, n);
        }
        streamed.Sent += n;
      } else if (!body_done) {
        body_done = true;
        if (framing == TFraming::kChunked) pending = "0\r\n\r\n";
      }
      if (pending.empty()) {
        sending = false;
        // Without a length the end of the body is the end of the stream.
        ::shutdown(socket.get(), SHUT_WR);
      }
    }
    pollfd events{socket.get(), static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
    if (::poll(&events, 1, 1000) <= 0) continue;
    if (events.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[8192];
      const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        streamed.Answer.append(buffer, static_cast<std::size_t>(n));
        if (sending && streamed.Answer.find("\r\n\r\n") != std::string::npos) {
          // The answer has come: the rest of the body is not wanted any more.
          sending = false;
          ::shutdown(socket.get(), SHUT_WR);
        }
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    if (sending && (events.revents & POLLOUT)) {
      const ssize_t n = ::send(socket.get(), pending.data() + offset, pending.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        offset += static_cast<std::size_t>(n);
      } else if (errno != EAGAIN && errno != EINTR) {
        sending = false;  // reset by the server; what it answered may still be readable
      }
    }
  }
  return streamed;
}

class HostileRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(app_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
    WriteFile(app_.File("pelorin/base.xml"), kCards);
    WriteFile(app_.File("user/user.xml"), kUsers);
    WriteFile(app_.File("pelorin/dump.vcf.xsl"), kDumpStylesheet);
    for (const char* store : {"config/config.xml", "pelorin/base.xml", "user/user.xml"}) {
      saved_forms_.push_back(SavedForm(app_.File(store)));
    }
    // Files beside the application directory, named apart from their content so
    // that a not-found message naming them does not count as a leak.
    const fs::path app(app_.path());
    outside_stem_ = app.filename().string() + "-outside";
    secret_ = "c0nfidential-" + std::to_string(::getpid()) + "-" + std::to_string(port_);
    for (const char* ext : {".css", ".htm", ".gif", ".txt"}) {
      const std::string path = (app.parent_path() / (outside_stem_ + ext)).string();
      WriteFile(path, "<b>" + secret_ + "</b>");
      planted_.push_back(path);
    }
    server_ = std::make_unique<TServerProcess>(app_.Executable());
    ASSERT_TRUE(server_->WaitForPort(port_)) << app_.LogText();
  }

  void TearDown() override {
    std::error_code ignored;
    for (const std::string& path : planted_) fs::remove(path, ignored);
  }

  std::string OutsideFile(const char* ext) const { return planted_[0].substr(0, planted_[0].size() - 4) + ext; }

  THttpAnswer Get(const std::string& target, const std::string& user = "bob", const std::string& password = "pw") {
    return Request(port_, "GET", target, user, password);
  }
  THttpAnswer Post(const std::string& target, const std::string& body, const std::string& user = "bob",
                   const std::string& password = "pw") {
    return Request(port_, "POST", target, user, password, body);
  }
  std::string Dump() { return Get(kDumpPage).Body; }

  void ExpectNoLeak(const THttpAnswer& answer, const std::string& what) {
    EXPECT_EQ(std::string::npos, answer.Head.find(secret_)) << what;
    EXPECT_EQ(std::string::npos, answer.Body.find(secret_)) << what;
    EXPECT_EQ(std::string::npos, answer.Body.find("root:x:0:0")) << what;
    EXPECT_EQ(std::string::npos, answer.Body.find("<PASSWORD>")) << what;
  }

  void ExpectStillServing(const std::string& what) {
    const THttpAnswer answer = Get(kDumpPage);
    EXPECT_EQ(200, answer.Status) << what;
    EXPECT_EQ(kDumpOfTheCards, answer.Body) << what;
  }

  // Stops the service, which writes all three stores: each must read as before.
  void StopAndExpectStoresUnchanged() {
    server_->Signal(SIGTERM);
    ASSERT_EQ(std::optional<int>(0), server_->WaitForExit());
    const char* stores[] = {"config/config.xml", "pelorin/base.xml", "user/user.xml"};
    // The passwords of the user store are hashed, all else is as it was.
    for (int i = 0; i < 3; ++i) {
      const bool users = i == 2;
      EXPECT_EQ(users ? WithPasswordKinds(saved_forms_[i], true) : saved_forms_[i],
                users ? WithPasswordKinds(ReadFile(app_.File(stores[i])), false) : ReadFile(app_.File(stores[i])))
          << stores[i];
    }
    const std::string log = app_.LogText();
    EXPECT_EQ(std::string::npos, log.find(secret_));
    EXPECT_EQ(std::string::npos, log.find("root:x:0:0"));
  }

  TAppDir app_;
  std::uint16_t port_ = FreePort();
  std::unique_ptr<TServerProcess> server_;
  std::vector<std::string> saved_forms_;
  std::vector<std::string> planted_;
  std::string outside_stem_;
  std::string secret_;
};

TEST_F(HostileRequestTest, EntityFragmentsAreRefusedAndNothingIsFetched) {
  const TTrapListener trap;
  const std::string secret_file = "file://" + OutsideFile(".txt");
  struct TFragment {
    const char* Name;
    std::string Xml;
  };
  const TFragment fragments[] = {
      {"billion laughs",
       "<?xml version=\"1.0\"?><!DOCTYPE vCard [<!ENTITY a \"aaaaaaaaaa\">"
       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
       "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
       "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
       "<vCard><FN>&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;</FN></vCard>"},
      {"external entity /etc/passwd",
       "<!DOCTYPE vCard [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><vCard><FN>&x;</FN></vCard>"},
      {"external entity beside the application",
       "<!DOCTYPE vCard [<!ENTITY x SYSTEM \"" + secret_file + "\">]><vCard><FN>&x;</FN></vCard>"},
      {"external entity over http",
       "<!DOCTYPE vCard [<!ENTITY x SYSTEM \"" + trap.Url("/entity") + "\">]><vCard><FN>&x;</FN></vCard>"},
      {"parameter entity",
       "<!DOCTYPE vCard [<!ENTITY % p SYSTEM \"" + secret_file + "\"> %p;]><vCard><FN>x</FN></vCard>"},
      {"external document type over http",
       "<!DOCTYPE vCard SYSTEM \"" + trap.Url("/card.dtd") + "\"><vCard><FN>&x;</FN></vCard>"},
      {"undeclared entity", "<vCard><FN>&x;</FN></vCard>"},
  };
  for (const TFragment& fragment : fragments) {
    const THttpAnswer insert =
        Post("/pelorin/index.htm", "Command=insert&Redirect=index.htm&XML=" + FormEncode(fragment.Xml));
    EXPECT_EQ(500, insert.Status) << fragment.Name;
    EXPECT_EQ(0u, insert.Body.find("Error inserting record.")) << fragment.Name;
    EXPECT_LT(insert.Body.size(), 1000u) << fragment.Name;  // nothing was expanded into the message
    ExpectNoLeak(insert, fragment.Name);
    // An edit parses its fragment the same way, and the old record stays.
    const std::string xpath = "/xBase/vCard[FN='Kept Card']";
    const THttpAnswer edit = Post("/pelorin/index.htm", "Command=edit&Redirect=index.htm&xPath=" + FormEncode(xpath) +
                                                            "&XML=" + FormEncode(fragment.Xml));
    EXPECT_EQ(500, edit.Status) << fragment.Name;
    EXPECT_EQ("Error editing record: " + xpath, edit.Body) << fragment.Name;
    ExpectStillServing(fragment.Name);
  }
  // A fetch would happen while a fragment is parsed, before its answer, so it
  // would be waiting at the trap by now.
  EXPECT_FALSE(trap.WasCalled());
  const THttpAnswer dump = Get(kDumpPage);
  ExpectNoLeak(dump, "dump");
  EXPECT_EQ(kDumpOfTheCards, dump.Body);
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, StylesheetParametersStayText) {
  // Were the fields handed over as expressions, these would read the file.
  for (const std::string& value : {std::string("document('file:///etc/passwd')"),
                                   "document('file://" + OutsideFile(".txt") + "')",
                                   std::string("')]|document('/etc/passwd')|x[('")}) {
    const THttpAnswer answer = Get(std::string(kDumpPage) + "?q=" + FormEncode(value));
    EXPECT_EQ(200, answer.Status) << value;
    EXPECT_EQ("[" + value + "]Kept Cardbob1", answer.Body) << value;
    ExpectNoLeak(answer, value);
  }
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, HundredMegabyteBodiesAreRefusedWithoutBeingHeld) {
  constexpr std::uint64_t kHundredMegabytes = 100'000'000;
  const std::string head = "POST /pelorin/index.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                           BasicCredentials("bob", "pw") + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  struct TBody {
    const char* Name;
    TFraming Framing;
    std::string Head;
  };
  const TBody bodies[] = {
      {"declared length", TFraming::kDeclaredLength,
       head + "Content-Length: " + std::to_string(kHundredMegabytes) + "\r\n\r\n"},
      {"chunked", TFraming::kChunked, head + "Transfer-Encoding: chunked\r\n\r\n"},
      {"until close", TFraming::kUntilClose, head + "\r\n"},
  };
  for (const TBody& body : bodies) {
    const long peak_before = PeakMemoryKb(server_->Pid());
    const auto start = Clock::now();
    const TStreamed streamed = StreamBody(port_, body.Head, kHundredMegabytes, body.Framing);
    const THttpAnswer answer = ParseAnswer(streamed.Answer);
    EXPECT_EQ(413, answer.Status) << body.Name;
    EXPECT_EQ("Request body too large.", answer.Body) << body.Name;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << body.Name;
    if (body.Framing == TFraming::kDeclaredLength) {
      // Judged by its announced length: refused before the body is read.
      EXPECT_LT(streamed.Sent, kHundredMegabytes / 2) << body.Name;
      EXPECT_LT(PeakMemoryKb(server_->Pid()) - peak_before, 16 * 1024) << body.Name;
    }
    ExpectStillServing(body.Name);
  }
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, OversizedHeadsAreClosedOrRefused) {
  const std::string line = "GET " + std::string(kDumpPage) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  const std::string bob = "Authorization: " + BasicCredentials("bob", "pw") + "\r\n";
  std::string many_headers;
  std::string many_small_headers;
  for (int i = 0; i < 10000; ++i) {
    many_headers += "X-Header-" + std::to_string(i) + ": value\r\n";
    many_small_headers += "a:b\r\n";
  }
  // A password whose Authorization line brings the head just under the limit.
  const std::size_t room = kHeadLimit - line.size() - 512;
  const std::string near_limit_password(room / 4 * 3, 'p');
  std::string near_limit_quotes;
  while (near_limit_quotes.size() < near_limit_password.size()) near_limit_quotes += "\"'";
  struct THead {
    const char* Name;
    std::string Request;
    int Status;  // 0: closed without an answer
  };
  const THead heads[] = {
      {"70 KB header line", line + bob + "X-Long: " + std::string(70 * 1024, 'a') + "\r\n\r\n", 0},
      {"10,000 headers", line + bob + many_headers + "\r\n", 0},
      {"10,000 headers within the limit", line + bob + many_small_headers + "\r\n", 200},
      {"1 MB password", line + "Authorization: " + BasicCredentials("bob", std::string(1 << 20, 'p')) + "\r\n\r\n", 0},
      {"password just under the limit",
       line + "Authorization: " + BasicCredentials("bob", near_limit_password) + "\r\n\r\n", 401},
      {"quotes just under the limit",
       line + "Authorization: " + BasicCredentials("bob", near_limit_quotes) + "\r\n\r\n", 401},
  };
  for (const THead& head : heads) {
    if (head.Status != 0) {
      // Meant to be answered, so it must fit the limit: "just under" has to stay under.
      ASSERT_LT(head.Request.size(), kHeadLimit) << head.Name;
    }
    const auto start = Clock::now();
    const std::string bytes = Exchange(port_, head.Request);
    const THttpAnswer answer = ParseAnswer(bytes);
    EXPECT_EQ(head.Status, answer.Status) << head.Name;
    if (head.Status == 0) {
      EXPECT_EQ("", bytes) << head.Name;
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << head.Name;
    ExpectStillServing(head.Name);
  }
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, NulBytesInTheTargetReachNoFile) {
  const std::string bob = "Authorization: " + BasicCredentials("bob", "pw") + "\r\n";
  const std::string outside_css = "/../../" + outside_stem_ + ".css";
  struct TTarget {
    const char* Name;
    std::string Target;
    int Status;
  };
  const TTarget targets[] = {
      {"NUL in the path", std::string("/pelorin/a\0b.css", 16), 0},
      {"NUL after a way out", "/pelorin" + outside_css + std::string("\0.css", 5), 0},
      {"NUL in the query", std::string("/pelorin/dump.vcf?q=a\0b", 23), 0},
      {"encoded NUL in the path", "/pelorin/index.htm%00.css", 404},
  };
  for (const TTarget& target : targets) {
    const std::string bytes = Exchange(port_, "GET " + target.Target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + bob + "\r\n");
    const THttpAnswer answer = ParseAnswer(bytes);
    EXPECT_EQ(target.Status, answer.Status) << target.Name;
    if (target.Status == 0) {
      EXPECT_EQ("", bytes) << target.Name;
    }
    ExpectNoLeak(answer, target.Name);
    ExpectStillServing(target.Name);
  }
  // The encoded NUL is not decoded: the name looked for keeps it as text.
  EXPECT_EQ("File '" + app_.File("pelorin/index.htm%00.css") + "' not found",
            Get("/pelorin/index.htm%00.css").Body);
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, PathsOutOfTheApplicationDirectoryServeNothingOutside) {
  const std::string out = outside_stem_;
  struct TTarget {
    std::string Target;
    int Status;
  };
  const TTarget targets[] = {
      {"/pelorin/../../" + out + ".css", 403},
      {"/../" + out + ".htm", 403},
      {"/pelorin/./../../" + out + ".gif", 403},
      {"//../" + out + ".css", 403},
      {"/pelorin\\..\\..\\" + out + ".css", 403},
      {"\\..\\" + out + ".htm", 403},
      {"/pelorin/..\\..\\" + out + ".htm", 403},
      {"http://127.0.0.1/../" + out + ".css", 403},
      {"/pelorin/x#/../../" + out + ".css", 403},
      {"/pelorin/../user/user.xml", 403},
      {"/pelorin/%2e%2e/%2e%2e/" + out + ".css", 404},
      {"/pelorin/%2E%2E%2F%2E%2E%2F" + out + ".css", 404},
      {"/pelorin/..%2f..%2f" + out + ".css", 404},
      {"/pelorin/..%5c..%5c" + out + ".gif", 404},
      {"/pelorin/%2e%2e/%2e%2e/" + out + ".htm", 500},  // no such page, and no stylesheet for it
      {"/pelorin/base.xml", 200},                        // the store is never a static file
  };
  for (const TTarget& target : targets) {
    const THttpAnswer answer = Get(target.Target);
    EXPECT_EQ(target.Status, answer.Status) << target.Target;
    ExpectNoLeak(answer, target.Target);
    if (target.Status == 403) {
      EXPECT_EQ("Forbidden path.", answer.Body) << target.Target;
    }
    if (target.Status == 200) {
      EXPECT_EQ("", answer.Body) << target.Target;
    }
  }
  // An administrator reaches the user area, but its store is not served either.
  const THttpAnswer users = Get("/user/user.xml", "admin", "admin");
  EXPECT_EQ(200, users.Status);
  EXPECT_EQ("", users.Body);
  // A record command on a way out is refused before it runs.
  const THttpAnswer post = Post("/pelorin/../pelorin/index.htm",
                                "Command=delete&xPath=" + FormEncode("/xBase/vCard") + "&Redirect=index.htm");
  EXPECT_EQ(403, post.Status);
  ExpectStillServing("after the ways out");
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, OverlongUtf8IsRefusedOrMatchesNothing) {
  const std::string out = outside_stem_;
  struct TTarget {
    std::string Target;
    int Status;
  };
  const TTarget targets[] = {
      {"/%C0%AE%C0%AE/" + out + ".css", 404},
      {"/pelorin/%C0%AE%C0%AE/%C0%AE%C0%AE/" + out + ".css", 404},
      {"/pelorin/%C0%AE%C0%AE%C0%AF%C0%AE%C0%AE%C0%AF" + out + ".css", 404},
      {"/pelorin/%E0%80%AE%E0%80%AE/%E0%80%AE%E0%80%AE/" + out + ".gif", 404},
      {"/pelorin/\xC0\xAE\xC0\xAE/\xC0\xAE\xC0\xAE/" + out + ".css", 404},
      {"/pelorin/%C0%AE%C0%AE/dump.vcf", 500},
  };
  for (const TTarget& target : targets) {
    const THttpAnswer answer = Get(target.Target);
    EXPECT_EQ(target.Status, answer.Status) << target.Target;
    ExpectNoLeak(answer, target.Target);
  }
  EXPECT_EQ("Error transforming file: /pelorin/%C0%AE%C0%AE/dump.vcf", Get("/pelorin/%C0%AE%C0%AE/dump.vcf").Body);

  // Form fields: an ill-formed fragment is refused, an ill-formed expression
  // matches nothing, and a page is still rendered with such a parameter.
  for (const char* xml : {"%3CvCard%3E%3CFN%3E%C0%AE%C0%AE%3C%2FFN%3E%3C%2FvCard%3E",
                          "%3CvCard%3E%3CFN%C0%AE%3Ex%3C%2FFN%C0%AE%3E%3C%2FvCard%3E",
                          "%3CvCard%3E%3CFN%3E%ED%A0%80%3C%2FFN%3E%3C%2FvCard%3E"}) {
    const THttpAnswer insert = Post("/pelorin/index.htm", std::string("Command=insert&Redirect=index.htm&XML=") + xml);
    EXPECT_EQ(500, insert.Status) << xml;
    EXPECT_EQ(0u, insert.Body.find("Error inserting record.")) << xml;
  }
  for (const char* xpath : {"%2FxBase%2FvCard%5BFN%3D%27%C0%AE%27%5D", "%C0%AE%C0%AE", "%2F%2F*%5B%C0%AF%5D"}) {
    const THttpAnswer removal = Post("/pelorin/index.htm", std::string("Command=delete&Redirect=index.htm&xPath=") + xpath);
    EXPECT_EQ(302, removal.Status) << xpath;
    const THttpAnswer edit = Post("/pelorin/index.htm", std::string("Command=edit&Redirect=index.htm&xPath=") + xpath +
                                                            "&XML=%3CvCard%3E%3CFN%3EReplaced%3C%2FFN%3E%3C%2FvCard%3E");
    EXPECT_EQ(302, edit.Status) << xpath;
  }
  EXPECT_EQ(200, Get(std::string(kDumpPage) + "?q=%C0%AE%C0%AE%C0%AF").Status);
  // A redirect target never becomes a second header line: its CR and LF go out encoded.
  const THttpAnswer split = Post("/pelorin/index.htm", "Command=none&Redirect=index.htm%0D%0ASet-Cookie:+a%3Db");
  EXPECT_EQ(302, split.Status);
  EXPECT_EQ(std::string::npos, split.Head.find("\r\nSet-Cookie"));
  EXPECT_EQ("index.htm%0D%0ASet-Cookie: a=b", HeaderOf(split, "Location"));
  ExpectStillServing("after overlong UTF-8");
  StopAndExpectStoresUnchanged();
}

TEST_F(HostileRequestTest, XPathBuiltToRunLongEndsWithinSecondsWhileOthersAreServed) {
  // A card of a few thousand elements: enough for these expressions to run for
  // minutes when nothing stops them.
  std::string big = "<vCard><FN>Big</FN>";
  for (int i = 0; i < 2000; ++i) big += "<NOTE>n" + std::to_string(i) + "</NOTE>";
  big += "</vCard>";
  ASSERT_EQ(302, Post("/pelorin/index.htm", "Command=insert&Redirect=index.htm&XML=" + FormEncode(big)).Status);
  const std::string before = Dump();
  ASSERT_NE(std::string::npos, before.find("Bign0n1"));

  struct TQuery {
    const char* Command;
    const char* XPath;
  };
  const TQuery queries[] = {
      {"delete", "//*[//*[//*[//*[//*[name()='none']]]]]"},
      {"edit", "//*[count(//*) * count(//*) * count(//*) < 0]"},
      {"delete", "//node()[contains(concat(string(/), string(/), string(/)), concat(string(/), 'zz'))]"},
      {"edit", "//*[count(descendant::*/following::*/preceding::*) < 0]"},
      {"delete", "//*[count(//*/following::*) < 0]"},
  };
  for (const TQuery& query : queries) {
    std::atomic<int> status{0};
    std::atomic<long long> took_ms{0};
    std::thread hostile([&] {
      const auto start = Clock::now();
      status = Post("/pelorin/index.htm", std::string("Command=") + query.Command + "&Redirect=index.htm&xPath=" +
                                              FormEncode(query.XPath) +
                                              "&XML=" + FormEncode("<vCard><FN>Replaced</FN></vCard>"))
                   .Status;
      took_ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    });
    // Another user asks for a page while the query runs: it waits for the store,
    // but not for long.
    std::this_thread::sleep_for(milliseconds(200));
    const auto start = Clock::now();
    const THttpAnswer other = Get(kDumpPage, "admin", "admin");
    const auto other_took = Clock::now() - start;
    hostile.join();
    EXPECT_EQ(302, status.load()) << query.XPath;  // no match: nothing to delete or replace
    EXPECT_LT(took_ms.load(), std::chrono::duration_cast<milliseconds>(kFewSeconds).count()) << query.XPath;
    EXPECT_EQ(200, other.Status) << query.XPath;
    EXPECT_LT(other_took, kFewSeconds) << query.XPath;
  }
  // Compared whole but reported short: the dump runs to some ten thousand bytes.
  const std::string after = Dump();
  EXPECT_TRUE(after == before) << "the cards changed: " << before.size() << " bytes before, " << after.size()
                               << " after";
  server_->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), server_->WaitForExit());
}

}  // namespace
}  // namespace pelorin::testing
