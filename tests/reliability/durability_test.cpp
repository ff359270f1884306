// No answered change is lost: eight clients change their own cards through the
// real server while it saves on a short timer, and the store file is checked after
// a clean stop, a stop amid the changes, a restart, and many kills at random
// moments. Sizes come from the environment for longer runs:
// PELORIN_DURABILITY_STEPS (changes per client in the clean run),
// PELORIN_DURABILITY_KILLS, PELORIN_DURABILITY_MARGIN_MS, PELORIN_DURABILITY_SEED.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "tests/reliability/durability_store_file.h"
#include "tests/reliability/durability_workload.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr std::size_t kClients = 8;
constexpr milliseconds kSaveInterval{50};

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text, text + std::strlen(text), value);
  return ec == std::errc() && *end == '\0' ? value : fallback;
}

// `per_client` cards for each client, with IDs of their own.
std::vector<TCardSet> StartCards(std::size_t clients, std::size_t per_client) {
  std::vector<TCardSet> cards(clients);
  for (std::size_t c = 0; c < clients; ++c) {
    for (std::size_t k = 0; k < per_client; ++k)
      cards[c][CardKey(c, k)] = TCard{"v0", std::to_string(500 + 10 * c + k)};
  }
  return cards;
}

// The clients of one run, each with its history, and their threads.
class TClientCrowd {
 public:
  TClientCrowd(std::uint16_t port, const std::vector<TCardSet>& start, std::uint64_t seed)
      : serials_(start.size(), 1000), answered_steps_(start.size()) {
    for (const TCardSet& cards : start) histories_.emplace_back(cards);
    for (std::size_t c = 0; c < start.size(); ++c) {
      clients_.push_back(
          std::make_unique<TCardClient>(port, c, histories_[c], serials_[c], seed + c));
    }
  }
  ~TClientCrowd() { Join(); }

  // Each client takes `steps` steps, or goes on until Stop when steps is 0; a
  // client ends early when the server gives no answer.
  void Run(std::size_t steps) {
    for (std::size_t c = 0; c < clients_.size(); ++c) {
      threads_.emplace_back([this, c, steps] {
        while ((steps == 0 || answered_steps_[c] < steps) && !stop_.load() && clients_[c]->Step())
          ++answered_steps_[c];
      });
    }
  }
  void Stop() { stop_ = true; }
  void Join() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }
  // Whether every client has taken `steps` steps; safe while they run.
  bool AllReached(std::size_t steps) const {
    for (const auto& count : answered_steps_) {
      if (count.load() < steps) return false;
    }
    return true;
  }
  std::vector<std::string> Faults() const {
    std::vector<std::string> faults;
    for (const auto& client : clients_)
      faults.insert(faults.end(), client->Faults().begin(), client->Faults().end());
    return faults;
  }
  // Read only after Join.
  const std::vector<THistory>& Histories() const { return histories_; }

 private:
  std::vector<THistory> histories_;
  std::vector<std::uint64_t> serials_;
  std::vector<std::unique_ptr<TCardClient>> clients_;
  std::vector<std::atomic<std::size_t>> answered_steps_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// Every version of the store file that a reader could see while it runs, with the
// moment its reading began.
class TFileWatcher {
 public:
  explicit TFileWatcher(std::string path)
      : path_(std::move(path)), thread_([this] {
          while (!stop_.load()) {
            const TMoment before = TSteadyClock::now();
            std::string bytes = ReadFile(path_);
            if (seen_.empty() || seen_.back().second != bytes)
              seen_.emplace_back(before, std::move(bytes));
            std::this_thread::sleep_for(milliseconds(5));
          }
        }) {}
  ~TFileWatcher() { Stop(); }
  const std::vector<std::pair<TMoment, std::string>>& Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  const std::string path_;
  std::atomic<bool> stop_{false};
  std::vector<std::pair<TMoment, std::string>> seen_;
  std::thread thread_;
};

void ExpectNoSavingFiles(const TDurabilityApp& app) {
  for (const char* store : {"pelorin/base.xml", "user/user.xml", "config/config.xml"}) {
    EXPECT_FALSE(fs::exists(app.Dir().File(std::string(store) + ".saving")))
        << store << ".saving is left";
  }
}

TEST(DurabilityTest, EveryAnsweredChangeOutlivesACleanStopAndARestart) {
  const std::size_t steps = EnvNumber("PELORIN_DURABILITY_STEPS", 40);
  const std::uint64_t seed = EnvNumber("PELORIN_DURABILITY_SEED", std::random_device()());
  SCOPED_TRACE("seed " + std::to_string(seed));
  const std::vector<TCardSet> start = StartCards(kClients, 1);
  TDurabilityApp app(kClients, start);
  std::string why;
  auto server = app.Start(kSaveInterval, why);
  ASSERT_TRUE(server) << why;
  const std::string loaded = ReadFile(app.StorePath());

  TClientCrowd crowd(app.Port(), start, seed);
  TFileWatcher watcher(app.StorePath());
  const TMoment began = TSteadyClock::now();
  crowd.Run(steps);
  crowd.Join();
  const auto run_time = TSteadyClock::now() - began;
  const auto seen = watcher.Stop();
  for (const std::string& fault : crowd.Faults()) ADD_FAILURE() << fault;
  ASSERT_TRUE(crowd.AllReached(steps));

  server->Signal(SIGTERM);
  EXPECT_EQ(0, server->WaitForExit()) << app.Dir().LogText();
  ExpectNoSavingFiles(app);
  const TStoreReading stopped = ReadCardStore(app.StorePath(), kClients);
  ASSERT_TRUE(stopped.Faults.empty()) << stopped.Faults.front();
  for (std::size_t c = 0; c < kClients; ++c) {
    const TCardSet& expected = crowd.Histories()[c].Current();
    EXPECT_TRUE(Matches(expected, stopped.ByClient[c]))
        << "client " << c << ": " << DescribeDifference(expected, stopped.ByClient[c]);
    for (const auto& [key, card] : expected)
      EXPECT_FALSE(card.Id.empty()) << key << " never showed its ID";
  }

  // Each save the reader saw while the clients worked was whole and stood for one
  // moment of the run.
  std::size_t saves_seen = 0;
  for (const auto& [moment, bytes] : seen) {
    if (bytes == loaded) continue;
    ++saves_seen;
    const TStoreReading reading = ParseCardStore(bytes, kClients);
    ASSERT_TRUE(reading.Faults.empty()) << reading.Faults.front();
    TSnapshotBounds bounds;
    bounds.NotAfter = moment;
    const TSnapshotVerdict verdict =
        FindSnapshotMoment(crowd.Histories(), reading.ByClient, bounds);
    EXPECT_TRUE(verdict.Consistent) << verdict.Failure;
  }
  std::cout << "[ durability ] " << steps << " steps per client in "
            << std::chrono::duration_cast<milliseconds>(run_time).count() << " ms, " << saves_seen
            << " saves seen meanwhile\n";
  if (run_time > 4 * kSaveInterval) {
    EXPECT_GE(saves_seen, 1u) << "no save while the clients worked";
  }

  // Started again on the same directory, the pages show the cards of the file, and
  // a stop writes them back unchanged.
  const std::string saved = ReadFile(app.StorePath());
  server = app.Start(kSaveInterval, why);
  ASSERT_TRUE(server) << why;
  for (std::size_t c = 0; c < kClients; ++c) {
    const auto difference = ServedDifference(app.Port(), c, crowd.Histories()[c].Current());
    ASSERT_TRUE(difference.has_value());
    EXPECT_EQ("", *difference) << "client " << c;
  }
  server->Signal(SIGTERM);
  EXPECT_EQ(0, server->WaitForExit());
  EXPECT_EQ(saved, ReadFile(app.StorePath()));
  ExpectNoSavingFiles(app);
}

TEST(DurabilityTest, StopAmidTheChangesSavesEveryAnsweredOne) {
  const std::uint64_t seed = EnvNumber("PELORIN_DURABILITY_SEED", std::random_device()());
  SCOPED_TRACE("seed " + std::to_string(seed));
  const std::vector<TCardSet> start = StartCards(kClients, 2);
  TDurabilityApp app(kClients, start);
  std::string why;
  auto server = app.Start(kSaveInterval, why);
  ASSERT_TRUE(server) << why;

  TClientCrowd crowd(app.Port(), start, seed);
  crowd.Run(0);
  const TMoment deadline = TSteadyClock::now() + std::chrono::seconds(30);
  while (!crowd.AllReached(10) && TSteadyClock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(5));
  const TMoment stop_asked = TSteadyClock::now();
  server->Signal(SIGTERM);
  const std::optional<int> exit_code = server->WaitForExit();
  const TMoment exited = TSteadyClock::now();
  crowd.Stop();
  crowd.Join();
  EXPECT_EQ(0, exit_code) << app.Dir().LogText();
  for (const std::string& fault : crowd.Faults()) ADD_FAILURE() << fault;

  const TStoreReading reading = ReadCardStore(app.StorePath(), kClients);
  ASSERT_TRUE(reading.Faults.empty()) << reading.Faults.front();
  TSnapshotBounds bounds;
  bounds.NotBefore = stop_asked;
  bounds.NotAfter = exited;
  bounds.EveryAnsweredChange = true;
  const TSnapshotVerdict verdict = FindSnapshotMoment(crowd.Histories(), reading.ByClient, bounds);
  EXPECT_TRUE(verdict.Consistent) << verdict.Failure;
  EXPECT_GE(verdict.AnsweredOnDisk, 10 * kClients);
  ExpectNoSavingFiles(app);
}

TEST(DurabilityTest, KillsAtRandomMomentsLoseNoAnsweredChange) {
  TCrashLoopSettings settings;
  settings.Kills = EnvNumber("PELORIN_DURABILITY_KILLS", 10);
  settings.Clients = kClients;
  settings.Margin =
      milliseconds(EnvNumber("PELORIN_DURABILITY_MARGIN_MS", settings.Margin.count()));
  settings.Seed = EnvNumber("PELORIN_DURABILITY_SEED", std::random_device()());
  const TCrashLoopReport report = RunCrashLoop(settings);
  for (const std::string& failure : report.Failures) ADD_FAILURE() << failure;
  EXPECT_EQ(settings.Kills, report.Kills);
  EXPECT_GT(report.AnsweredOnDisk, 0u) << "no answered change ever reached the file";
  // Every answered change is held after each restart (else a failure above).
  EXPECT_EQ(report.Answered, report.AnsweredRecovered);
  std::cout << "[ durability ] " << report.Kills << " kills, " << report.ChangesSent
            << " changes sent, " << report.Answered << " answered, " << report.AnsweredOnDisk
            << " of them in the file, " << report.AnsweredNotYetSaved
            << " answered within the last save period, " << report.UnansweredOnDisk
            << " saved unanswered, " << report.LeftoverSavingFiles
            << " leftover .saving files, oldest file " << report.MaxAge.count() << " ms; after the "
            << "restarts " << report.AnsweredRecovered << " answered changes held, "
            << report.UnansweredRecovered << " in flight held\n";
}

// A "*.saving" file is a save that never finished: the start ignores it, whole or
// torn, and the next save replaces it.
TEST(DurabilityTest, LeftoverSavingFilesAreNeverLoaded) {
  const TCardSet kept = {{CardKey(0, 0), TCard{"v4", "111"}}};
  const TCardSet planted = {{CardKey(0, 1), TCard{"v9", "222"}}};
  const std::string planted_store = CardStoreText({planted});
  const struct {
    const char* Name;
    bool Store;          // base.xml holds `kept`
    bool FirstRun;       // baseinit.xml holds `kept`
    std::string Saving;  // base.xml.saving
    bool Starts;
  } cases[] = {
      {"whole saving file beside the store", true, false, planted_store, true},
      {"torn saving file beside the store", true, false,
       planted_store.substr(0, planted_store.size() / 2), true},
      {"empty saving file beside the store", true, false, "", true},
      {"saving file beside the first-run file", false, true, planted_store, true},
      {"saving file alone", false, false, planted_store, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Name);
    TDurabilityApp app(1, {kept});
    if (!test.Store) fs::remove(app.StorePath());
    if (test.FirstRun) WriteFile(app.Dir().File("pelorin/baseinit.xml"), CardStoreText({kept}));
    WriteFile(app.StorePath() + ".saving", test.Saving);
    // The other stores' leftovers name another port and another password.
    WriteFile(app.Dir().File("config/config.xml.saving"), TAppDir::ConfigWithPort(FreePort()));
    WriteFile(app.Dir().File("user/user.xml.saving"),
              "<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\r\n<xUser><User><USER>u0</USER><PASSWORD>planted</PASSWORD>"
              "</User></xUser>");

    TServerProcess server(app.Dir().Executable(), {"PELORIN_SAVE_INTERVAL_MS=50"});
    if (!test.Starts) {
      EXPECT_EQ(1, server.WaitForExit());
      EXPECT_NE(std::string::npos, app.Dir().LogText().find("Could not load file " +
                                                            app.Dir().File("pelorin/baseinit.xml")))
          << app.Dir().LogText();
      continue;
    }
    ASSERT_TRUE(server.WaitForPort(app.Port())) << app.Dir().LogText();
    EXPECT_EQ(401, Request(app.Port(), "GET", "/pelorin/index.htm", OwnerOf(0), "planted").Status);
    const auto served = ServedDifference(app.Port(), 0, kept);
    ASSERT_TRUE(served.has_value());
    EXPECT_EQ("", *served);

    const std::string body =
        "Command=insert&XML=" + std::string("%3CvCard%3E%3CFN%3E") + CardKey(0, 2) +
        "%3C%2FFN%3E%3CNOTE%3Ev0%3C%2FNOTE%3E%3C%2FvCard%3E&Redirect=index.htm";
    EXPECT_EQ(
        302,
        Request(app.Port(), "POST", "/pelorin/index.htm", OwnerOf(0), PasswordOf(0), body).Status);
    ASSERT_TRUE(WaitForFileText(app.Dir(), "pelorin/base.xml", CardKey(0, 2)));
    server.Signal(SIGTERM);
    EXPECT_EQ(0, server.WaitForExit());
    ExpectNoSavingFiles(app);
    const TStoreReading reading = ReadCardStore(app.StorePath(), 1);
    ASSERT_TRUE(reading.Faults.empty()) << reading.Faults.front();
    EXPECT_EQ(std::vector<std::string>({CardKey(0, 0), CardKey(0, 2)}), [&] {
      std::vector<std::string> keys;
      for (const auto& [key, card] : reading.ByClient[0]) keys.push_back(key);
      return keys;
    }());
    EXPECT_EQ("v4", reading.ByClient[0].at(CardKey(0, 0)).Version);
  }
}

}  // namespace
}  // namespace pelorin::testing
