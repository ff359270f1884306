#include "tests/reliability/durability_model.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace pelorin::testing {
namespace {

using std::chrono::milliseconds;

constexpr TSteadyClock::duration kTick{1};

// A stretch of time in which a client's cards were those of change `change`:
// after the sending of that change, before the answer of the next one.
struct TWindow {
  TMoment Open;
  TMoment Close;
  std::size_t Change;
};

bool Covers(const TWindow& window, TMoment moment) {
  return window.Open < moment && moment < window.Close;
}

// Whether every client has a window around `moment`.
bool AllCover(const std::vector<std::vector<TWindow>>& windows, TMoment moment) {
  return std::all_of(windows.begin(), windows.end(), [&](const std::vector<TWindow>& mine) {
    return std::any_of(mine.begin(), mine.end(),
                       [&](const TWindow& w) { return Covers(w, moment); });
  });
}

// The latest moment within [low, high] that every client's windows cover; only
// window ends (and the bounds) can be the latest, so those are tried.
std::optional<TMoment> LatestCommonMoment(const std::vector<std::vector<TWindow>>& windows,
                                          TMoment low, TMoment high) {
  std::vector<TMoment> candidates{high};
  if (low != TMoment::min()) candidates.push_back(low + kTick);
  for (const auto& mine : windows) {
    for (const TWindow& w : mine) {
      if (w.Open != TMoment::min()) candidates.push_back(w.Open + kTick);
      if (w.Close != TMoment::max()) candidates.push_back(w.Close - kTick);
    }
  }
  if (low == TMoment::min()) candidates.push_back(TMoment::min() + kTick);
  std::optional<TMoment> latest;
  for (const TMoment moment : candidates) {
    if (moment <= low || moment > high || (latest && moment <= *latest)) continue;
    if (AllCover(windows, moment)) latest = moment;
  }
  return latest;
}

std::string MsBefore(TMoment moment, TMoment end) {
  if (moment == TMoment::min()) return "the start";
  if (moment == TMoment::max()) return "never";
  return std::to_string(std::chrono::duration_cast<milliseconds>(end - moment).count()) +
         " ms before the end";
}

// The latest moment any history mentions, as the reference of the messages.
TMoment LatestEvent(const std::vector<THistory>& clients) {
  TMoment latest = TMoment::min();
  for (const THistory& history : clients) {
    for (std::size_t change = 1; change <= history.Changes(); ++change) {
      latest = std::max(latest, history.Answered(change).value_or(history.Sent(change)));
    }
  }
  return latest;
}

}  // namespace

std::string CardKey(std::size_t client, std::uint64_t serial) {
  return "c" + std::to_string(client) + "k" + std::to_string(serial) + "x";
}

std::string OwnerOf(std::size_t client) { return "u" + std::to_string(client); }

std::string PasswordOf(std::size_t client) { return "pw" + std::to_string(client); }

std::optional<std::pair<std::size_t, std::uint64_t>> ParseCardKey(std::string_view key) {
  if (key.size() < 5 || key.front() != 'c' || key.back() != 'x') return std::nullopt;
  const char* const end = key.data() + key.size() - 1;
  std::size_t client = 0;
  std::uint64_t serial = 0;
  auto parsed = std::from_chars(key.data() + 1, end, client);
  if (parsed.ec != std::errc() || parsed.ptr == key.data() + 1 || parsed.ptr == end ||
      *parsed.ptr != 'k') {
    return std::nullopt;
  }
  const char* const serial_start = parsed.ptr + 1;
  parsed = std::from_chars(serial_start, end, serial);
  if (parsed.ec != std::errc() || parsed.ptr != end || serial_start == end) return std::nullopt;
  return std::pair{client, serial};
}

THistory::THistory(TCardSet start) { states_.push_back(std::move(start)); }

std::size_t THistory::Record(TCardSet after, TMoment sent) {
  states_.push_back(std::move(after));
  sent_.push_back(sent);
  answered_.emplace_back();
  return Changes();
}

void THistory::Acknowledge(std::size_t change, TMoment answered) {
  answered_.at(change - 1) = answered;
}

void THistory::LearnId(const std::string& key, const std::string& id) {
  const auto card = states_.back().find(key);
  if (card == states_.back().end()) throw std::logic_error("no card " + key + " to give an ID");
  card->second.Id = id;
}

std::size_t THistory::LastAnswered() const {
  for (std::size_t change = Changes(); change > 0; --change) {
    if (Answered(change)) return change;
  }
  return 0;
}

bool Matches(const TCardSet& expected, const TCardSet& on_disk) {
  if (expected.size() != on_disk.size()) return false;
  return std::equal(
      expected.begin(), expected.end(), on_disk.begin(), [](const auto& want, const auto& have) {
        return want.first == have.first && want.second.Version == have.second.Version &&
               (want.second.Id.empty() || want.second.Id == have.second.Id);
      });
}

std::string DescribeDifference(const TCardSet& expected, const TCardSet& on_disk) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
  for (const auto& [key, card] : expected) {
    const auto found = on_disk.find(key);
    if (found == on_disk.end()) {
      add("missing " + key + " " + card.Version);
    } else if (found->second.Version != card.Version) {
      add(key + " " + found->second.Version + " instead of " + card.Version);
    } else if (!card.Id.empty() && found->second.Id != card.Id) {
      add(key + " with ID " + found->second.Id + " instead of " + card.Id);
    }
  }
  for (const auto& [key, card] : on_disk) {
    if (!expected.contains(key)) add("extra " + key + " " + card.Version);
  }
  return text.empty() ? "no difference" : text;
}

TSnapshotVerdict FindSnapshotMoment(const std::vector<THistory>& clients,
                                    const std::vector<TCardSet>& on_disk,
                                    const TSnapshotBounds& bounds) {
  TSnapshotVerdict verdict;
  if (on_disk.size() != clients.size()) {
    verdict.Failure = "the file was read for " + std::to_string(on_disk.size()) + " clients, not " +
                      std::to_string(clients.size());
    return verdict;
  }
  const TMoment end = bounds.NotAfter != TMoment::max() ? bounds.NotAfter : LatestEvent(clients);
  std::vector<std::vector<TWindow>> windows(clients.size());
  for (std::size_t c = 0; c < clients.size(); ++c) {
    const THistory& history = clients[c];
    const std::size_t first = bounds.EveryAnsweredChange ? history.LastAnswered() : 0;
    std::string too_early;
    for (std::size_t change = 0; change <= history.Changes(); ++change) {
      if (!Matches(history.State(change), on_disk[c])) continue;
      if (change < first) {
        too_early = "client " + std::to_string(c) + ": the file holds its cards after change " +
                    std::to_string(change) + ", but change " + std::to_string(first) +
                    " was answered before the stop: " +
                    DescribeDifference(history.State(first), on_disk[c]);
        continue;
      }
      const TMoment open = change == 0 ? TMoment::min() : history.Sent(change);
      const TMoment close = change == history.Changes()
                                ? TMoment::max()
                                : history.Answered(change + 1).value_or(TMoment::max());
      if (open < close) windows[c].push_back({open, close, change});
    }
    if (windows[c].empty()) {
      verdict.Failure = too_early;
      if (verdict.Failure.empty()) {
        const std::size_t reference = history.LastAnswered();
        verdict.Failure = "client " + std::to_string(c) +
                          ": its cards in the file match none of its " +
                          std::to_string(history.Changes() + 1) +
                          " states; against its last answered change " + std::to_string(reference) +
                          ": " + DescribeDifference(history.State(reference), on_disk[c]);
      }
      return verdict;
    }
  }

  const std::optional<TMoment> moment =
      LatestCommonMoment(windows, bounds.NotBefore, bounds.NotAfter);
  if (!moment) {
    const std::optional<TMoment> older =
        LatestCommonMoment(windows, TMoment::min(), bounds.NotAfter);
    if (older) {
      verdict.Failure = "the file is too old: it stands at the latest for " +
                        MsBefore(*older, end) + ", but it must be younger than " +
                        MsBefore(bounds.NotBefore, end) + ";";
      for (std::size_t c = 0; c < windows.size(); ++c) {
        std::size_t cut = 0;
        for (const TWindow& w : windows[c]) {
          if (Covers(w, *older)) cut = std::max(cut, w.Change);
        }
        for (std::size_t change = cut + 1; change <= clients[c].Changes(); ++change) {
          const std::optional<TMoment> answered = clients[c].Answered(change);
          if (answered && *answered <= bounds.NotBefore) {
            verdict.Failure += " client " + std::to_string(c) + " lost change " +
                               std::to_string(change) + ", answered " + MsBefore(*answered, end) +
                               " (" + DescribeDifference(clients[c].State(change), on_disk[c]) +
                               ");";
            break;
          }
        }
      }
    } else {
      verdict.Failure =
          "no single moment matches the file: each client's cards come from another time;";
      for (std::size_t c = 0; c < windows.size(); ++c) {
        verdict.Failure += " client " + std::to_string(c) + ":";
        for (const TWindow& w : windows[c]) {
          verdict.Failure += " change " + std::to_string(w.Change) + " (from " +
                             MsBefore(w.Open, end) + " to " + MsBefore(w.Close, end) + ")";
        }
      }
    }
    return verdict;
  }

  verdict.Consistent = true;
  verdict.Age =
      bounds.NotAfter != TMoment::max() ? bounds.NotAfter - *moment : TSteadyClock::duration{};
  verdict.Cut.resize(clients.size());
  for (std::size_t c = 0; c < clients.size(); ++c) {
    std::size_t cut = 0;
    for (const TWindow& w : windows[c]) {
      if (Covers(w, *moment)) cut = std::max(cut, w.Change);
    }
    verdict.Cut[c] = cut;
    for (std::size_t change = 1; change <= clients[c].Changes(); ++change) {
      const bool answered = clients[c].Answered(change).has_value();
      verdict.Answered += answered ? 1 : 0;
      if (change <= cut) (answered ? verdict.AnsweredOnDisk : verdict.UnansweredOnDisk) += 1;
    }
  }
  return verdict;
}

}  // namespace pelorin::testing
