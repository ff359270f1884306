// Sync tokens of the address books (RFC 6578). Each book's cards are watched
// as (name, ETag) pairs: whenever the book is looked at, what changed since
// the last look, by any route, gets the next number. A token names the run of
// the service that gave it and that number; "what changed since" is every
// name whose number is higher, with the card or its deletion.
//
// The state is written at a clean stop and read at the next start, so tokens
// survive it. Tokens of a run that did not stop cleanly (a crash) are not
// accepted afterwards: the client gets the valid-sync-token error and syncs
// anew, never a wrong answer. Not thread-safe: the owner holds the store lock.
#ifndef PELORIN_WEB_DAV_SYNC_H_
#define PELORIN_WEB_DAV_SYNC_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelorin {

// A name with the number of the look that found it changed; deleted when the
// card is gone.
struct TDavChange {
  std::string Name;
  bool Deleted = false;
};

class TDavSyncLog {
 public:
  TDavSyncLog();  // draws this run's generation

  // The book's cards as (name, ETag) now; returns the book's token after it.
  std::string Observe(const std::string& user, const std::vector<std::pair<std::string, std::string>>& cards);
  // What changed since `token` (empty: every card), or nullopt when the token
  // is not one this service can answer.
  std::optional<std::vector<TDavChange>> ChangesSince(const std::string& user, const std::string& token) const;

  // Written at a clean stop; Load takes a state written so. False (and
  // nothing taken) when the file is missing or damaged.
  void Save(const std::string& path) const;  // throws TFileError
  bool Load(const std::string& path);

 private:
  struct TEntry {
    std::uint64_t Seq = 0;
    std::string Etag;
    bool Deleted = false;
  };
  struct TBook {
    std::uint64_t Seq = 0;
    std::uint64_t Floor = 0;  // tokens below it lost their history (tombstones dropped)
    std::map<std::string, TEntry> Entries;
  };
  std::string TokenOf(std::uint64_t seq) const;

  std::string generation_;         // this run's
  std::string loaded_generation_;  // of the clean stop whose state was loaded
  std::map<std::string, std::uint64_t> loaded_seq_;  // per user, the last number of that run
  std::map<std::string, TBook> books_;
};

}  // namespace pelorin

#endif  // PELORIN_WEB_DAV_SYNC_H_
