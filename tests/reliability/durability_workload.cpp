#include "tests/reliability/durability_workload.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <thread>

#include "tests/form_encode.h"
#include "tests/reliability/durability_store_file.h"
#include "tests/temp_dir.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr char kPage[] = "/pelorin/index.htm";
constexpr char kCardLink[] = "<a href=\"card.htm?ID=";

std::string UsersStore(std::size_t clients) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>";
  for (std::size_t c = 0; c < clients; ++c) {
    text += "<User><USER>" + OwnerOf(c) + "</USER><PASSWORD>" + PasswordOf(c) +
            "</PASSWORD><NAME>Client " + std::to_string(c) + "</NAME></User>";
  }
  return text + "</xUser>";
}

std::uint64_t VersionNumber(const std::string& version) {
  std::uint64_t number = 0;
  std::from_chars(version.data() + 1, version.data() + version.size(), number);
  return number;
}

std::string Describe(const std::map<std::string, std::string>& shown) {
  std::string text;
  for (const auto& [key, value] : shown) text += (text.empty() ? "" : ", ") + key + "=" + value;
  return "[" + text + "]";
}

// What a page shows against the cards the client holds: empty when they agree.
std::string CompareExport(const std::map<std::string, std::string>& shown,
                          const TCardSet& expected) {
  TCardSet seen;
  for (const auto& [key, version] : shown) seen[key] = TCard{version, ""};
  TCardSet want;
  for (const auto& [key, card] : expected) want[key] = TCard{card.Version, ""};
  return Matches(want, seen) ? std::string() : "export.vcf: " + DescribeDifference(want, seen);
}

std::string CompareIndex(const std::map<std::string, std::string>& shown,
                         const TCardSet& expected) {
  std::string text;
  for (const auto& [key, card] : expected) {
    const auto found = shown.find(key);
    if (found == shown.end()) {
      text += " missing " + key + ";";
    } else if (!card.Id.empty() && found->second != card.Id) {
      text += " " + key + " with ID " + found->second + " instead of " + card.Id + ";";
    }
  }
  for (const auto& [key, id] : shown) {
    if (!expected.contains(key)) text += " extra " + key + ";";
  }
  return text.empty() ? text : "index.htm:" + text;
}

std::string Since(TMoment start, TMoment moment) {
  return std::to_string(duration_cast<milliseconds>(moment - start).count()) + " ms";
}

}  // namespace

TDurabilityApp::TDurabilityApp(std::size_t clients, const std::vector<TCardSet>& cards)
    : port_(FreePort()), clients_(clients) {
  WriteFile(dir_.File("config/config.xml"), TAppDir::ConfigWithPort(port_));
  WriteFile(dir_.File("user/user.xml"), UsersStore(clients));
  std::vector<TCardSet> all = cards;
  all.resize(clients);
  WriteFile(StorePath(), CardStoreText(all));
  for (const auto& entry :
       fs::directory_iterator(std::string(PELORIN_SOURCE_DIR) + "/app/pelorin")) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".xsl" || extension == ".css") {
      fs::copy_file(entry.path(), dir_.File("pelorin/" + entry.path().filename().string()));
    }
  }
}

std::unique_ptr<TServerProcess> TDurabilityApp::Start(milliseconds save_interval,
                                                      std::string& why) const {
  auto server = std::make_unique<TServerProcess>(
      dir_.Executable(), std::vector<std::string>{"PELORIN_SAVE_INTERVAL_MS=" +
                                                  std::to_string(save_interval.count())});
  if (server->WaitForPort(port_)) return server;
  why = "the server does not answer on port " + std::to_string(port_) + "; its log:\n" +
        dir_.LogText();
  return nullptr;
}

std::optional<THttpAnswer> WholeAnswer(const THttpAnswer& answer) {
  if (answer.Status == 0) return std::nullopt;
  const std::string length = HeaderOf(answer, "Content-Length");
  if (!length.empty() && length != std::to_string(answer.Body.size())) return std::nullopt;
  return answer;
}

std::optional<std::map<std::string, std::string>> ExportedVersions(std::uint16_t port,
                                                                   std::size_t client,
                                                                   std::string& fault) {
  const auto answer =
      WholeAnswer(Request(port, "GET", "/pelorin/export.vcf", OwnerOf(client), PasswordOf(client)));
  if (!answer) return std::nullopt;
  std::map<std::string, std::string> versions;
  if (answer->Status != 200) {
    fault = "export.vcf answered " + std::to_string(answer->Status) + ": " + answer->Body;
    return versions;
  }
  std::string key;
  std::string version;
  std::size_t at = 0;
  while (at < answer->Body.size()) {
    const std::size_t end = answer->Body.find("\r\n", at);
    const std::string line =
        answer->Body.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? answer->Body.size() : end + 2;
    if (line.starts_with("FN:")) key = line.substr(3);
    if (line.starts_with("NOTE:")) version = line.substr(5);
    if (line == "END:VCARD") {
      if (!versions.emplace(key, version).second) fault = "export.vcf shows " + key + " twice";
      key.clear();
      version.clear();
    }
  }
  return versions;
}

std::optional<std::map<std::string, std::string>> IndexedIds(std::uint16_t port, std::size_t client,
                                                             const std::string& query,
                                                             std::string& fault) {
  const std::string target =
      query.empty() ? std::string(kPage) : std::string(kPage) + "?q=" + FormEncode(query);
  const auto answer =
      WholeAnswer(Request(port, "GET", target, OwnerOf(client), PasswordOf(client)));
  if (!answer) return std::nullopt;
  std::map<std::string, std::string> ids;
  if (answer->Status != 200) {
    fault = "index.htm answered " + std::to_string(answer->Status) + ": " + answer->Body;
    return ids;
  }
  // Each card's row links its title and its "View" button to card.htm?ID=...
  const std::string& page = answer->Body;
  for (std::size_t at = page.find(kCardLink); at != std::string::npos;
       at = page.find(kCardLink, at)) {
    at += sizeof kCardLink - 1;
    const std::size_t id_end = page.find("\">", at);
    const std::size_t title_end = page.find("</a>", id_end);
    if (id_end == std::string::npos || title_end == std::string::npos) {
      fault = "index.htm holds a broken card link";
      break;
    }
    const std::string id = page.substr(at, id_end - at);
    const std::string title = page.substr(id_end + 2, title_end - id_end - 2);
    if (title == "View") continue;
    if (!ids.emplace(title, id).second) fault = "index.htm shows " + title + " twice";
  }
  return ids;
}

std::optional<std::string> ServedDifference(std::uint16_t port, std::size_t client,
                                            const TCardSet& expected) {
  std::string fault;
  const auto versions = ExportedVersions(port, client, fault);
  if (!versions) return std::nullopt;
  const auto ids = IndexedIds(port, client, "", fault);
  if (!ids) return std::nullopt;
  if (!fault.empty()) return fault;
  const std::string exported = CompareExport(*versions, expected);
  const std::string indexed = CompareIndex(*ids, expected);
  return exported + (exported.empty() || indexed.empty() ? "" : "; ") + indexed;
}

TCardClient::TCardClient(std::uint16_t port, std::size_t client, THistory& history,
                         std::uint64_t& next_serial, std::uint64_t seed)
    : port_(port), client_(client), history_(history), next_serial_(next_serial), random_(seed) {}

bool TCardClient::Step() {
  ++steps_;
  const std::size_t live = history_.Current().size();
  const std::uint64_t roll = random_() % 100;
  bool answered = false;
  if (live == 0 || roll < (live < 8 ? 45u : 20u)) {
    answered = Insert();
  } else if (roll < 80) {
    answered = Edit(PickCard());
  } else {
    answered = Delete(PickCard());
  }
  if (!answered) return false;
  return random_() % 3 != 0 || CheckPages();
}

std::string TCardClient::PickCard() {
  const TCardSet& cards = history_.Current();
  return std::next(cards.begin(), static_cast<std::ptrdiff_t>(random_() % cards.size()))->first;
}

bool TCardClient::Fault(const std::string& text) {
  faults_.push_back("client " + std::to_string(client_) + ": " + text);
  return false;
}

bool TCardClient::PostChange(std::size_t change, const std::string& xpath,
                             const std::string& command, const std::string& xml) {
  const std::string redirect =
      "index.htm?client=" + std::to_string(client_) + "&step=" + std::to_string(steps_);
  const std::string body = "xPath=" + FormEncode(xpath) + "&Command=" + command +
                           "&XML=" + FormEncode(xml) + "&Redirect=" + FormEncode(redirect);
  const auto answer =
      WholeAnswer(Request(port_, "POST", kPage, OwnerOf(client_), PasswordOf(client_), body));
  if (!answer) return false;
  if (answer->Status != 302 || HeaderOf(*answer, "Location") != redirect) {
    return Fault(command + " answered " + std::to_string(answer->Status) + " to " +
                 HeaderOf(*answer, "Location") + ": " + answer->Body);
  }
  history_.Acknowledge(change, TSteadyClock::now());
  return true;
}

bool TCardClient::Insert() {
  const std::string key = CardKey(client_, next_serial_++);
  TCardSet after = history_.Current();
  after[key] = TCard{"v0", ""};
  const std::size_t change = history_.Record(std::move(after), TSteadyClock::now());
  return PostChange(change, "", "insert", "<vCard><FN>" + key + "</FN><NOTE>v0</NOTE></vCard>") &&
         LearnId(key);
}

bool TCardClient::Edit(const std::string& key) {
  const TCard card = history_.Current().at(key);
  const std::string version = "v" + std::to_string(VersionNumber(card.Version) + 1);
  TCardSet after = history_.Current();
  after[key].Version = version;
  const std::size_t change = history_.Record(std::move(after), TSteadyClock::now());
  // As the edit page posts it: the card by its ID and owner, the ID kept in the record.
  return PostChange(
      change, "xBase/vCard[ID='" + card.Id + "'][OWNER='" + OwnerOf(client_) + "']", "edit",
      "<vCard><FN>" + key + "</FN><NOTE>" + version + "</NOTE><ID>" + card.Id + "</ID></vCard>");
}

bool TCardClient::Delete(const std::string& key) {
  const std::string id = history_.Current().at(key).Id;
  TCardSet after = history_.Current();
  after.erase(key);
  const std::size_t change = history_.Record(std::move(after), TSteadyClock::now());
  return PostChange(change, "xBase/vCard[ID='" + id + "']", "delete", "");
}

bool TCardClient::LearnId(const std::string& key) {
  std::string fault;
  const auto ids = IndexedIds(port_, client_, key, fault);
  if (!ids) return false;
  if (!fault.empty()) return Fault(fault);
  if (ids->size() != 1 || !ids->contains(key))
    return Fault("the search for " + key + " shows " + Describe(*ids));
  history_.LearnId(key, ids->at(key));
  return true;
}

// The client alone changes its cards, so every page must show them as they are now.
bool TCardClient::CheckPages() {
  std::string fault;
  std::string difference;
  if (steps_ % 2 == 0) {
    const auto versions = ExportedVersions(port_, client_, fault);
    if (!versions) return false;
    difference = CompareExport(*versions, history_.Current());
  } else {
    const auto ids = IndexedIds(port_, client_, "", fault);
    if (!ids) return false;
    difference = CompareIndex(*ids, history_.Current());
  }
  if (!fault.empty()) return Fault(fault);
  if (!difference.empty())
    return Fault("after change " + std::to_string(history_.Changes()) + ": " + difference);
  return true;
}

TCrashLoopReport RunCrashLoop(const TCrashLoopSettings& settings) {
  TCrashLoopReport report;
  const std::size_t clients = settings.Clients;
  std::vector<TCardSet> on_disk(clients);
  std::vector<std::uint64_t> next_serial(clients, settings.StartCards);
  for (std::size_t c = 0; c < clients; ++c) {
    for (std::uint64_t k = 0; k < settings.StartCards; ++k) {
      on_disk[c][CardKey(c, k)] = TCard{"v0", std::to_string(1000000 + 1000 * c + k)};
    }
  }
  TDurabilityApp app(clients, on_disk);
  const std::string saving = app.StorePath() + ".saving";
  std::mt19937_64 random(settings.Seed);
  const auto fail = [&](const std::string& text) {
    report.Failures.push_back(text + " (seed " + std::to_string(settings.Seed) + ")");
  };
  // What a restarted server serves must be the file just checked, never a leftover
  // "*.saving" file or an older store.
  const auto check_served = [&](const std::string& when) {
    for (std::size_t c = 0; c < clients; ++c) {
      const auto difference = ServedDifference(app.Port(), c, on_disk[c]);
      if (!difference) return fail(when + ": the pages give no answer");
      if (!difference->empty()) fail(when + ", client " + std::to_string(c) + ": " + *difference);
    }
  };

  for (std::size_t kill = 1; kill <= settings.Kills; ++kill) {
    const std::string name = "kill " + std::to_string(kill);
    std::string why;
    const auto server = app.Start(settings.SaveInterval, why);
    if (!server) {
      fail(name + ": " + why);
      return report;
    }
    check_served("start " + std::to_string(kill));

    std::vector<THistory> histories;
    for (const TCardSet& cards : on_disk) histories.emplace_back(cards);
    std::vector<std::unique_ptr<TCardClient>> workers;
    for (std::size_t c = 0; c < clients; ++c) {
      workers.push_back(
          std::make_unique<TCardClient>(app.Port(), c, histories[c], next_serial[c], random()));
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const TMoment begin = TSteadyClock::now();
    for (std::size_t c = 0; c < clients; ++c) {
      threads.emplace_back([&, c] {
        while (!stop.load() && workers[c]->Step()) {
        }
      });
    }
    const auto span = settings.KillAfterMax - settings.KillAfterMin;
    std::this_thread::sleep_for(settings.KillAfterMin +
                                milliseconds(span.count() > 0 ? random() % (span.count() + 1) : 0));
    server->Signal(SIGKILL);
    const TMoment killed = TSteadyClock::now();
    server->WaitForExit(std::chrono::seconds(30));
    stop = true;
    for (std::thread& thread : threads) thread.join();
    ++report.Kills;
    for (const auto& worker : workers) {
      for (const std::string& fault : worker->Faults()) fail(name + ", " + fault);
    }

    if (fs::exists(saving)) ++report.LeftoverSavingFiles;
    const TStoreReading reading = ReadCardStore(app.StorePath(), clients);
    for (const std::string& fault : reading.Faults)
      fail(name + " after " + Since(begin, killed) + ": " + fault);
    if (!reading.Faults.empty()) return report;  // nothing sound to go on from

    TSnapshotBounds bounds;
    bounds.NotAfter = killed;
    bounds.NotBefore = killed - 2 * settings.SaveInterval - settings.Margin;
    const TSnapshotVerdict verdict = FindSnapshotMoment(histories, reading.ByClient, bounds);
    for (const THistory& history : histories) report.ChangesSent += history.Changes();
    if (!verdict.Consistent) {
      fail(name + " after " + Since(begin, killed) + ": " + verdict.Failure);
    } else {
      report.Answered += verdict.Answered;
      report.AnsweredOnDisk += verdict.AnsweredOnDisk;
      report.AnsweredNotYetSaved += verdict.Answered - verdict.AnsweredOnDisk;
      report.UnansweredOnDisk += verdict.UnansweredOnDisk;
      report.MaxAge = std::max(report.MaxAge, duration_cast<milliseconds>(verdict.Age));
    }
    if (settings.Progress) {
      std::size_t sent = 0;
      for (const THistory& history : histories) sent += history.Changes();
      settings.Progress(name + " after " + Since(begin, killed) + ": " + std::to_string(sent) +
                        " changes sent, " + std::to_string(verdict.Answered) + " answered, " +
                        std::to_string(verdict.AnsweredOnDisk) + " of them in the file, which is " +
                        std::to_string(duration_cast<milliseconds>(verdict.Age).count()) +
                        " ms old" + (verdict.Consistent ? "" : "; FAILED"));
    }
    // The journal: what the restarted server holds must be every answered
    // change exactly once (a change in flight at the kill may be there or
    // not: it was never answered). A clean stop right after the start puts
    // that state into the file, where it is read like the one above.
    const auto recovering = app.Start(settings.SaveInterval, why);
    if (!recovering) {
      fail(name + ", the restart: " + why);
      return report;
    }
    recovering->Signal(SIGTERM);
    if (recovering->WaitForExit() != 0) fail(name + ": the clean stop after the restart failed");
    const TStoreReading recovered = ReadCardStore(app.StorePath(), clients);
    for (const std::string& fault : recovered.Faults) fail(name + ", after the restart: " + fault);
    if (!recovered.Faults.empty()) return report;
    TSnapshotBounds strict;
    strict.NotAfter = killed;
    strict.EveryAnsweredChange = true;
    const TSnapshotVerdict after = FindSnapshotMoment(histories, recovered.ByClient, strict);
    if (!after.Consistent) {
      fail(name + ", after the restart: " + after.Failure);
    } else {
      report.AnsweredRecovered += after.AnsweredOnDisk;
      report.UnansweredRecovered += after.UnansweredOnDisk;
    }
    on_disk = recovered.ByClient;
  }

  // A clean stop at the end writes exactly what the last start loaded.
  std::string why;
  const auto server = app.Start(settings.SaveInterval, why);
  if (!server) {
    fail("the last start: " + why);
    return report;
  }
  check_served("after the last restart");
  server->Signal(SIGTERM);
  const std::optional<int> exit_code = server->WaitForExit();
  if (exit_code != 0)
    fail("the clean stop ended with " + (exit_code ? std::to_string(*exit_code) : "a signal"));
  const TStoreReading reading = ReadCardStore(app.StorePath(), clients);
  for (const std::string& fault : reading.Faults) fail("after the clean stop: " + fault);
  for (std::size_t c = 0; c < clients && reading.Faults.empty(); ++c) {
    if (!Matches(on_disk[c], reading.ByClient[c])) {
      fail("after the clean stop, client " + std::to_string(c) + ": " +
           DescribeDifference(on_disk[c], reading.ByClient[c]));
    }
  }
  if (fs::exists(saving)) fail("a clean stop left " + saving + " behind");
  return report;
}

}  // namespace pelorin::testing
