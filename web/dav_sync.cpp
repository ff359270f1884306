#include "web/dav_sync.h"

#include <openssl/rand.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "io/durable_file.h"

namespace pelorin {
namespace {

constexpr char kTokenPrefix[] = "urn:pelorin:sync:";
constexpr char kStateHeader[] = "pelorin dav sync 1";
// Deleted names are kept to answer tokens; past this many the oldest history goes.
constexpr std::size_t kMaxTombstones = 100'000;

std::string RandomGeneration() {
  unsigned char bytes[8];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "0";
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char byte : bytes) {
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

// "urn:pelorin:sync:<generation>:<seq>"
bool ParseToken(const std::string& token, std::string& generation, std::uint64_t& seq) {
  if (token.rfind(kTokenPrefix, 0) != 0) return false;
  const std::string rest = token.substr(sizeof kTokenPrefix - 1);
  const std::size_t colon = rest.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  generation = rest.substr(0, colon);
  const std::string number = rest.substr(colon + 1);
  if (number.empty() || number.size() > 19 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  seq = std::stoull(number);
  return true;
}

// Names and ETags travel as length-prefixed fields, so any byte may stand in them.
void PutField(std::ostream& out, const std::string& field) { out << field.size() << ':' << field; }
bool GetField(std::istream& in, std::string& field) {
  std::size_t size = 0;
  char colon = 0;
  if (!(in >> size) || !in.get(colon) || colon != ':' || size > (1u << 20)) return false;
  field.assign(size, '\0');
  return static_cast<bool>(in.read(field.data(), static_cast<std::streamsize>(size)));
}

}  // namespace

TDavSyncLog::TDavSyncLog() : generation_(RandomGeneration()) {}

std::string TDavSyncLog::TokenOf(std::uint64_t seq) const {
  return kTokenPrefix + generation_ + ":" + std::to_string(seq);
}

std::string TDavSyncLog::Observe(const std::string& user,
                                 const std::vector<std::pair<std::string, std::string>>& cards) {
  TBook& book = books_[user];
  bool changed = false;
  const std::uint64_t next = book.Seq + 1;
  std::set<std::string> present;
  for (const auto& [name, etag] : cards) {
    present.insert(name);
    TEntry& entry = book.Entries[name];
    if (entry.Seq != 0 && !entry.Deleted && entry.Etag == etag) continue;
    entry = TEntry{next, etag, false};
    changed = true;
  }
  std::size_t tombstones = 0;
  for (auto& [name, entry] : book.Entries) {
    if (entry.Deleted) {
      ++tombstones;
    } else if (!present.contains(name)) {
      entry = TEntry{next, "", true};
      changed = true;
      ++tombstones;
    }
  }
  if (changed) book.Seq = next;
  if (tombstones > kMaxTombstones) {
    std::erase_if(book.Entries, [](const auto& item) { return item.second.Deleted; });
    book.Floor = book.Seq;
  }
  return TokenOf(book.Seq);
}

std::optional<std::vector<TDavChange>> TDavSyncLog::ChangesSince(const std::string& user,
                                                                 const std::string& token) const {
  const auto found = books_.find(user);
  std::vector<TDavChange> changes;
  if (token.empty()) {
    if (found != books_.end()) {
      for (const auto& [name, entry] : found->second.Entries) {
        if (!entry.Deleted) changes.push_back({name, false});
      }
    }
    return changes;
  }
  std::string generation;
  std::uint64_t seq = 0;
  if (!ParseToken(token, generation, seq) || found == books_.end()) return std::nullopt;
  const TBook& book = found->second;
  const auto loaded = loaded_seq_.find(user);
  const bool this_run = generation == generation_ && seq <= book.Seq;
  const bool last_clean_run = !loaded_generation_.empty() && generation == loaded_generation_ &&
                              loaded != loaded_seq_.end() && seq <= loaded->second;
  if ((!this_run && !last_clean_run) || seq < book.Floor) return std::nullopt;
  for (const auto& [name, entry] : book.Entries) {
    if (entry.Seq > seq) changes.push_back({name, entry.Deleted});
  }
  return changes;
}

void TDavSyncLog::Save(const std::string& path) const {
  std::ostringstream out;
  out << kStateHeader << '\n' << generation_ << '\n' << books_.size() << '\n';
  for (const auto& [user, book] : books_) {
    PutField(out, user);
    out << ' ' << book.Seq << ' ' << book.Floor << ' ' << book.Entries.size() << '\n';
    for (const auto& [name, entry] : book.Entries) {
      PutField(out, name);
      out << ' ';
      PutField(out, entry.Etag);
      out << ' ' << entry.Seq << ' ' << (entry.Deleted ? 1 : 0) << '\n';
    }
  }
  out << "end\n";
  ReplaceFileDurably(path, out.str(), 0600);
}

bool TDavSyncLog::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string header, generation, end;
  std::size_t count = 0;
  if (!std::getline(file, header) || header != kStateHeader || !std::getline(file, generation) ||
      !(file >> count)) {
    return false;
  }
  std::map<std::string, TBook> books;
  std::map<std::string, std::uint64_t> seqs;
  for (std::size_t i = 0; i < count; ++i) {
    std::string user;
    TBook book;
    std::size_t entries = 0;
    file >> std::ws;
    if (!GetField(file, user) || !(file >> book.Seq >> book.Floor >> entries)) return false;
    for (std::size_t j = 0; j < entries; ++j) {
      std::string name;
      TEntry entry;
      int deleted = 0;
      file >> std::ws;
      if (!GetField(file, name)) return false;
      file.get();  // the blank
      if (!GetField(file, entry.Etag) || !(file >> entry.Seq >> deleted)) return false;
      entry.Deleted = deleted != 0;
      book.Entries.emplace(std::move(name), std::move(entry));
    }
    seqs[user] = book.Seq;
    books.emplace(std::move(user), std::move(book));
  }
  if (!(file >> end) || end != "end") return false;
  books_ = std::move(books);
  loaded_seq_ = std::move(seqs);
  loaded_generation_ = generation;
  return true;
}

}  // namespace pelorin
