#include "service/record_ids.h"

#include <time.h>

namespace pelorin {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Days from 1899-12-30 to the Unix epoch 1970-01-01.
constexpr std::int64_t kDaysTo1970 = 25569;
constexpr std::int64_t kSecondsPerDay = 86400;
// days * 10^9 == nanoseconds / 86400, so this is the divisor of one ID unit.
constexpr std::int64_t kNanosecondsPerUnit = 86400;

const char kCardName[] = "vCard";
const char kIdName[] = "ID";

}  // namespace

std::int64_t LocalNanosecondsSince1899() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  const time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &local);
  const std::int64_t local_seconds =
      static_cast<std::int64_t>(now.tv_sec) + local.tm_gmtoff + kDaysTo1970 * kSecondsPerDay;
  return local_seconds * kNanosecondsPerSecond + now.tv_nsec;
}

std::string RecordIdFromLocalNanoseconds(std::int64_t nanoseconds) {
  if (nanoseconds < 0) return "0";
  std::int64_t units = nanoseconds / kNanosecondsPerUnit;
  const std::int64_t rest = nanoseconds % kNanosecondsPerUnit;
  if (2 * rest > kNanosecondsPerUnit || (2 * rest == kNanosecondsPerUnit && units % 2 == 1)) ++units;
  return std::to_string(units);
}

void TRecordIdIndex::Refresh(TQuickDom& dom) {
  if (Current(dom)) return;
  ids_.clear();
  const TNodeRef kept = dom.CurrentNode();
  if (dom.SelectRoot() && dom.SelectFirstChild()) {
    bool found = dom.SelectSibling(kCardName);
    while (found) {
      std::string id = FirstIdOf(dom);
      if (!id.empty()) ++ids_[std::move(id)];
      found = dom.SelectNextSibling(kCardName);
    }
  }
  dom.SetCurrentNode(kept);
  Commit(dom);
}

bool TRecordIdIndex::Contains(const std::string& id) const { return ids_.contains(id); }

void TRecordIdIndex::Add(const std::string& id) {
  if (!id.empty()) ++ids_[id];
}

void TRecordIdIndex::Remove(const std::string& id) {
  const auto found = ids_.find(id);
  if (found == ids_.end()) return;
  if (--found->second == 0) ids_.erase(found);
}

void TRecordIdIndex::Commit(const TQuickDom& dom) {
  generation_ = dom.Generation();
  built_ = true;
}

std::string FirstIdOf(TQuickDom& dom) {
  const TNodeRef record = dom.CurrentNode();
  std::string id;
  if (dom.SelectFirstChild()) id = dom.GetSiblingText(kIdName);
  dom.SetCurrentNode(record);
  return id;
}

bool IsCardRecord(const TQuickDom& dom) { return dom.CurrentIsRecord() && dom.CurrentName() == kCardName; }

std::string NewRecordIdFor(TQuickDom& dom, TRecordIdIndex& index, const TLocalClock& clock) {
  index.Refresh(dom);
  // Every reading is checked before it is handed out, so the ID returned is one
  // that no card carries, even when the clock has stepped back.
  std::string candidate = RecordIdFromLocalNanoseconds(clock());
  while (index.Contains(candidate)) candidate = RecordIdFromLocalNanoseconds(clock());
  return candidate;
}

}  // namespace pelorin
