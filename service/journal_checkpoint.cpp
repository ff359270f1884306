#include "service/journal_checkpoint.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "io/durable_file.h"
#include "service/journal_entry.h"

namespace pelorin {
namespace {

std::size_t IndexOf(TStoreKind store) { return static_cast<std::size_t>(store); }

bool Matches(const TStoreFileMark& mark, std::uint64_t size, std::uint32_t crc) {
  return mark.Known && mark.Size == size && mark.Crc == crc;
}

}  // namespace

TStoreFileMark TJournalCheckpoint::MarkOf(std::uint64_t seq, std::string_view bytes) {
  return {seq, bytes.size(), JournalCrc32(bytes), true};
}

// One line per store: "<index> <done seq> <size> <crc> <pending seq> <size> <crc>",
// an unknown mark written as "- - -".
void TJournalCheckpoint::Load(const std::string& path) {
  marks_ = {};
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    unsigned index = 0;
    unsigned long long seq[2] = {}, size[2] = {};
    unsigned crc[2] = {};
    if (std::sscanf(line.c_str(), "%u %llu %llu %x %llu %llu %x", &index, &seq[0], &size[0], &crc[0], &seq[1],
                    &size[1], &crc[1]) == 7 &&
        index < marks_.size()) {
      marks_[index].Done = {seq[0], size[0], crc[0], true};
      marks_[index].Pending = {seq[1], size[1], crc[1], true};
    }
  }
}

void TJournalCheckpoint::Save(const std::string& path) const {
  std::string text;
  for (std::size_t i = 0; i < marks_.size(); ++i) {
    const TMarks& m = marks_[i];
    if (!m.Done.Known && !m.Pending.Known) continue;
    // An unknown half is written as the known one: it matches only the same bytes.
    const TStoreFileMark& done = m.Done.Known ? m.Done : m.Pending;
    const TStoreFileMark& pending = m.Pending.Known ? m.Pending : m.Done;
    char line[160];
    std::snprintf(line, sizeof line, "%zu %llu %llu %08x %llu %llu %08x\n", i,
                  static_cast<unsigned long long>(done.Seq), static_cast<unsigned long long>(done.Size), done.Crc,
                  static_cast<unsigned long long>(pending.Seq), static_cast<unsigned long long>(pending.Size),
                  pending.Crc);
    text += line;
  }
  ReplaceFileDurably(path, text, 0600);
}

std::uint64_t TJournalCheckpoint::CoveredSeq(TStoreKind store, std::string_view file_bytes) const {
  const TMarks& m = marks_[IndexOf(store)];
  const std::uint64_t size = file_bytes.size();
  const std::uint32_t crc = JournalCrc32(file_bytes);
  // Both can match when a save wrote the same bytes again: the later one counts.
  if (Matches(m.Pending, size, crc)) return m.Pending.Seq;
  if (Matches(m.Done, size, crc)) return m.Done.Seq;
  return 0;
}

void TJournalCheckpoint::SetPending(TStoreKind store, std::uint64_t seq, std::string_view bytes) {
  marks_[IndexOf(store)].Pending = MarkOf(seq, bytes);
}

void TJournalCheckpoint::Complete(TStoreKind store) {
  TMarks& m = marks_[IndexOf(store)];
  m.Done = m.Pending;
}

std::uint64_t TJournalCheckpoint::HighestSeq() const {
  std::uint64_t highest = 0;
  for (const TMarks& m : marks_) highest = std::max({highest, m.Done.Seq, m.Pending.Seq});
  return highest;
}

}  // namespace pelorin
