// What a crash or stop test expects of the card store: each client's changes in the
// order it sent them, with the moments they were sent and answered, and the check
// that a store file holds the cards of one single moment of the run. A history is
// written by its client's thread alone and checked on the main thread after the
// clients have ended.
#ifndef PELORIN_TESTS_RELIABILITY_DURABILITY_MODEL_H_
#define PELORIN_TESTS_RELIABILITY_DURABILITY_MODEL_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelorin::testing {

using TSteadyClock = std::chrono::steady_clock;
using TMoment = TSteadyClock::time_point;

// A card of the run. Its key, in FN, names its client and a serial ("c3k7x"; the
// closing "x" keeps "c3k7" from being found inside "c3k70"); its version, in NOTE,
// counts the edits ("v2"); the ID is the one the server gave it.
struct TCard {
  std::string Version;
  std::string Id;  // empty until the client has learned it
  bool operator==(const TCard&) const = default;
};
using TCardSet = std::map<std::string, TCard>;  // by key

std::string CardKey(std::size_t client, std::uint64_t serial);
std::string OwnerOf(std::size_t client);     // the client's account, "u3"
std::string PasswordOf(std::size_t client);  // "pw3"
// The client and serial that `key` names; nullopt for any other text.
std::optional<std::pair<std::size_t, std::uint64_t>> ParseCardKey(std::string_view key);

// One client's run: State(0) is the cards it began with, State(i) its cards after
// change i (changes count from 1).
class THistory {
 public:
  explicit THistory(TCardSet start = {});

  // A change about to be sent, as the cards it leaves; returns its number.
  std::size_t Record(TCardSet after, TMoment sent);
  // The change's answer (its redirect) was read at `answered`.
  void Acknowledge(std::size_t change, TMoment answered);
  // The server's ID of a card the latest change inserted.
  void LearnId(const std::string& key, const std::string& id);

  const TCardSet& Current() const { return states_.back(); }
  const TCardSet& State(std::size_t change) const { return states_.at(change); }
  std::size_t Changes() const { return states_.size() - 1; }
  TMoment Sent(std::size_t change) const { return sent_.at(change - 1); }
  std::optional<TMoment> Answered(std::size_t change) const { return answered_.at(change - 1); }
  // The number of the last answered change, 0 when none was answered.
  std::size_t LastAnswered() const;

 private:
  std::vector<TCardSet> states_;
  std::vector<TMoment> sent_;
  std::vector<std::optional<TMoment>> answered_;
};

// Whether the cards on disk are `expected`: the same keys and versions, and the same
// IDs wherever the client knows them.
bool Matches(const TCardSet& expected, const TCardSet& on_disk);
// The differences as short text ("missing c3k7x v2; extra c3k9x v0; c3k4x v1 instead of v3").
std::string DescribeDifference(const TCardSet& expected, const TCardSet& on_disk);

// Where the moment a file stands for may lie, and whether every answered change
// must be in it (a clean stop saves after the last answer).
struct TSnapshotBounds {
  TMoment NotBefore = TMoment::min();
  TMoment NotAfter = TMoment::max();
  bool EveryAnsweredChange = false;
};

struct TSnapshotVerdict {
  bool Consistent = false;
  std::string Failure;
  std::vector<std::size_t> Cut;      // per client: the change after which its cards were saved
  std::size_t Answered = 0;          // answered changes of all clients
  std::size_t AnsweredOnDisk = 0;    // of those, the ones the file holds
  std::size_t UnansweredOnDisk = 0;  // in flight when the process died, yet saved
  // NotAfter minus the latest moment the file can stand for (zero when NotAfter is open).
  TSteadyClock::duration Age{};
};

// Finds a moment T within the bounds at which every client's cards were what the
// file holds: T lies after the sending of the last change the file holds and before
// the answer of the first change it lacks, for every client at once. A change is
// made in memory before it is answered, and a save writes the memory of one moment,
// so any sound save passes; a lost, repeated, torn or mixed-up save does not.
TSnapshotVerdict FindSnapshotMoment(const std::vector<THistory>& clients,
                                    const std::vector<TCardSet>& on_disk,
                                    const TSnapshotBounds& bounds);

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_RELIABILITY_DURABILITY_MODEL_H_
