// TCardIndex: the card records of the card store by owner, in store order,
// each with a version that is new whenever the record changes. Pages, exports
// and the DAV book ask it for one user's cards instead of searching the whole
// store, so their cost follows that user's cards; what is derived from one
// record (its ETag, its vCard text) can be kept under the record's version.
//
// The store's operations tell the index what they changed. Like the ID index
// it is valid only while the document's generation is the one it recorded, so
// a change it was not told about costs a rebuild, never a wrong answer; a
// rebuild gives every record a new version. Not thread-safe: the owner holds
// the store lock.
#ifndef PELORIN_SERVICE_CARD_INDEX_H_
#define PELORIN_SERVICE_CARD_INDEX_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "xml/quickdom.h"

namespace pelorin {

// One card record of an owner. Versions are never given twice in the life of
// the process, so a version names one state of one record.
struct TCardRef {
  TNodeRef Node;
  std::uint64_t Version = 0;
  bool HasUid = false;
};

class TCardIndex {
 public:
  // The owner's card records in store order; rebuilds the index first when
  // the document changed behind its back.
  std::vector<TCardRef> OwnedBy(TQuickDom& dom, const std::string& owner);

  // Whether the index describes the document as it is now. An operation asks
  // before it changes anything, reports its changes only when it was, and
  // commits the document's new generation after the last of them.
  bool Current(const TQuickDom& dom) const { return built_ && generation_ == dom.Generation(); }
  // A card record appended to the store (owners and UID read from it).
  void Added(TQuickDom& dom, TNodeRef record);
  // Card records about to be removed from the store.
  void Removed(const std::vector<TNodeRef>& records);
  // A card record changed in place: a new version, its UID read again.
  void Touched(TQuickDom& dom, TNodeRef record);
  void Commit(const TQuickDom& dom) { generation_ = dom.Generation(); }

 private:
  struct TCardInfo {
    std::uint64_t Version = 0;
    bool HasUid = false;
    std::vector<std::string> Owners;
  };
  void Rebuild(TQuickDom& dom);
  // Reads the owners and the UID of the record at the cursor.
  TCardInfo InfoOf(TQuickDom& dom);

  std::unordered_map<std::string, std::vector<TNodeRef>> by_owner_;
  std::unordered_map<void*, TCardInfo> cards_;
  std::uint64_t last_version_ = 0;
  std::uint64_t generation_ = 0;
  bool built_ = false;
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_CARD_INDEX_H_
