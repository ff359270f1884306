// Record IDs: the local time as days since 30 December 1899 times 10^9, and an
// index of the IDs of a store's cards so that a new ID is checked for a collision
// without scanning the store. Each store's index belongs to its store unit and
// is used while the store lock is held.
#ifndef PELORIN_SERVICE_RECORD_IDS_H_
#define PELORIN_SERVICE_RECORD_IDS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "xml/quickdom.h"

namespace pelorin {

// Local time as nanoseconds since 1899-12-30 00:00.
using TLocalClock = std::function<std::int64_t()>;

// The system clock at its full resolution, shifted by the local UTC offset.
std::int64_t LocalNanosecondsSince1899();

// Nanoseconds since 1899-12-30 00:00 local, as days times 10^9 rounded half to
// even: one unit is 86.4 microseconds. Negative instants give "0".
std::string RecordIdFromLocalNanoseconds(std::int64_t nanoseconds);

// The `ID` texts (first ID child) of the `vCard` records directly below one
// document's element. It is true for the document generation it recorded last;
// any change it was not told about makes it rebuild itself by one scan.
class TRecordIdIndex {
 public:
  // Rebuilds when the document changed behind the index's back.
  void Refresh(TQuickDom& dom);
  bool Contains(const std::string& id) const;
  // The insert path reports the IDs it adds and removes, then Commit records the
  // generation the index now describes.
  void Add(const std::string& id);
  void Remove(const std::string& id);
  void Commit(const TQuickDom& dom);
  // True when the index describes the document as it is now.
  bool Current(const TQuickDom& dom) const { return built_ && generation_ == dom.Generation(); }

 private:
  // Counts, since a loaded store may hold the same ID on two cards.
  std::unordered_map<std::string, std::uint32_t> ids_;
  std::uint64_t generation_ = 0;
  bool built_ = false;
};

// The text of the first ID child of the record at the cursor, empty when it has
// none; the cursor is restored.
std::string FirstIdOf(TQuickDom& dom);

// Whether the cursor is on a `vCard` element directly below the document
// element, the only records whose IDs take part in the collision test.
bool IsCardRecord(const TQuickDom& dom);

// A fresh ID for a new record of `dom`: the first reading of `clock` that no
// card's first ID equals. Readings are taken anew until one is free, so a second
// insert in the same clock unit waits for the next unit. The cursor is not moved.
std::string NewRecordIdFor(TQuickDom& dom, TRecordIdIndex& index, const TLocalClock& clock);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_RECORD_IDS_H_
