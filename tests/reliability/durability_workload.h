// The load of the durability tests: an application directory with the real card
// pages and one account per client, clients that insert, edit and delete their own
// cards through the running server while reading them back through the pages, and
// the crash loop that kills the server among them and checks the store file after
// every kill. Each TCardClient runs on a thread of its own; the rest runs on the
// thread of the test or the bench program.
#ifndef PELORIN_TESTS_RELIABILITY_DURABILITY_WORKLOAD_H_
#define PELORIN_TESTS_RELIABILITY_DURABILITY_WORKLOAD_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/http/server_process.h"
#include "tests/reliability/durability_model.h"

namespace pelorin::testing {

// The application directory of a run: the card pages of app/pelorin, accounts u0,
// u1, ... with passwords pw0, pw1, ..., and a card store holding `cards`.
class TDurabilityApp {
 public:
  TDurabilityApp(std::size_t clients, const std::vector<TCardSet>& cards);

  const TAppDir& Dir() const { return dir_; }
  std::uint16_t Port() const { return port_; }
  std::size_t Clients() const { return clients_; }
  std::string StorePath() const { return dir_.File("pelorin/base.xml"); }

  // Starts the server with that save interval and waits for its port; nullptr,
  // with the log in `why`, when it does not answer.
  std::unique_ptr<TServerProcess> Start(std::chrono::milliseconds save_interval,
                                        std::string& why) const;

 private:
  TAppDir dir_;
  std::uint16_t port_;
  std::size_t clients_;
};

// A page as the server answered it: nullopt when no whole answer came back (the
// server is gone), else the answer, which may still be a wrong one.
std::optional<THttpAnswer> WholeAnswer(const THttpAnswer& answer);

// The client's cards as export.vcf shows them: key to version. Nullopt when no
// whole answer came; `fault` is set when the page is wrong (not 200, a card twice).
std::optional<std::map<std::string, std::string>> ExportedVersions(std::uint16_t port,
                                                                   std::size_t client,
                                                                   std::string& fault);
// The client's cards as index.htm shows them (with `query` as the search): key to ID.
std::optional<std::map<std::string, std::string>> IndexedIds(std::uint16_t port, std::size_t client,
                                                             const std::string& query,
                                                             std::string& fault);
// Reads both pages and compares them with `expected`; empty when they agree,
// nullopt when the server gave no whole answer.
std::optional<std::string> ServedDifference(std::uint16_t port, std::size_t client,
                                            const TCardSet& expected);

// One client: the account u<client>, the cards c<client>k<serial>x. Every change is
// recorded in `history` before it is sent and acknowledged when its redirect
// (status 302 with the Location it asked for) comes back.
class TCardClient {
 public:
  TCardClient(std::uint16_t port, std::size_t client, THistory& history, std::uint64_t& next_serial,
              std::uint64_t seed);

  // One insert, edit or delete, and now and then a page that must show the
  // client's cards as they are now. False when the server gave no whole answer,
  // or a wrong one (then also in Faults): the client stops either way, since the
  // fate of its last change is unknown.
  bool Step();
  const std::vector<std::string>& Faults() const { return faults_; }

 private:
  bool Insert();
  bool Edit(const std::string& key);
  bool Delete(const std::string& key);
  bool LearnId(const std::string& key);
  bool CheckPages();
  // Posts a record command and acknowledges `change` on its redirect.
  bool PostChange(std::size_t change, const std::string& xpath, const std::string& command,
                  const std::string& xml);
  bool Fault(const std::string& text);
  std::string PickCard();

  const std::uint16_t port_;
  const std::size_t client_;
  THistory& history_;
  std::uint64_t& next_serial_;
  std::mt19937_64 random_;
  std::size_t steps_ = 0;
  std::vector<std::string> faults_;
};

struct TCrashLoopSettings {
  std::size_t Kills = 10;
  std::size_t Clients = 8;
  std::size_t StartCards = 2;  // per client, in the store before the first start
  std::chrono::milliseconds SaveInterval{50};
  // The kill comes at a random moment this long after the clients began.
  std::chrono::milliseconds KillAfterMin{150};
  std::chrono::milliseconds KillAfterMax{1000};
  // A change answered more than two save intervals and this margin before the
  // kill must be in the file: the save it armed has had time to finish.
  std::chrono::milliseconds Margin{500};
  std::uint64_t Seed = 1;
  std::function<void(const std::string&)> Progress;  // one line per kill, when set
};

struct TCrashLoopReport {
  std::size_t Kills = 0;
  std::size_t ChangesSent = 0;
  std::size_t Answered = 0;             // changes whose redirect came back
  std::size_t AnsweredOnDisk = 0;       // of those, found in the file after the kill
  std::size_t AnsweredNotYetSaved = 0;  // answered within the last save period: may be lost
  std::size_t UnansweredOnDisk = 0;     // in flight at the kill, yet saved
  std::size_t LeftoverSavingFiles = 0;  // kills that left a "base.xml.saving" behind
  // After the restart that replays the journal:
  std::size_t AnsweredRecovered = 0;    // answered changes held (all of them, or a failure is reported)
  std::size_t UnansweredRecovered = 0;  // in flight at the kill and held all the same
  std::chrono::milliseconds MaxAge{0};  // the oldest file found after a kill, before the kill
  std::vector<std::string> Failures;
};

// Starts the server on one directory again and again, kills it at random moments
// among the clients' changes, and checks after each kill that the store file is
// sound and holds the cards of one moment no older than the bound, that the
// restarted server (the file and the journal) holds every answered change
// exactly once, and after each restart that the pages serve that state; ends
// with a clean stop whose file must hold exactly what was served.
TCrashLoopReport RunCrashLoop(const TCrashLoopSettings& settings);

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_RELIABILITY_DURABILITY_WORKLOAD_H_
