#include "service/card_index.h"

#include <algorithm>
#include <unordered_set>

#include "service/record_ids.h"

namespace pelorin {
namespace {

constexpr char kCardName[] = "vCard";
constexpr char kOwnerName[] = "OWNER";
constexpr char kUidName[] = "UID";

}  // namespace

TCardIndex::TCardInfo TCardIndex::InfoOf(TQuickDom& dom) {
  TCardInfo info;
  info.Version = ++last_version_;
  const TNodeRef record = dom.CurrentNode();
  if (dom.SelectFirstChild()) {
    for (bool found = dom.SelectSibling(kOwnerName); found; found = dom.SelectNextSibling(kOwnerName)) {
      std::string owner = dom.GetText();
      // A hand-made store may name one owner twice; the card is listed once.
      if (std::find(info.Owners.begin(), info.Owners.end(), owner) == info.Owners.end()) {
        info.Owners.push_back(std::move(owner));
      }
    }
    dom.SetCurrentNode(record);
    dom.SelectFirstChild();
    info.HasUid = dom.SelectSibling(kUidName);
  }
  dom.SetCurrentNode(record);
  return info;
}

void TCardIndex::Rebuild(TQuickDom& dom) {
  by_owner_.clear();
  cards_.clear();
  const TNodeRef kept = dom.CurrentNode();
  if (dom.SelectRoot() && dom.SelectFirstChild()) {
    for (bool found = dom.SelectSibling(kCardName); found; found = dom.SelectNextSibling(kCardName)) {
      Added(dom, dom.CurrentNode());
    }
  }
  dom.SetCurrentNode(kept);
  built_ = true;
  Commit(dom);
}

std::vector<TCardRef> TCardIndex::OwnedBy(TQuickDom& dom, const std::string& owner) {
  if (!Current(dom)) Rebuild(dom);
  std::vector<TCardRef> refs;
  const auto list = by_owner_.find(owner);
  if (list == by_owner_.end()) return refs;
  refs.reserve(list->second.size());
  for (const TNodeRef node : list->second) {
    const TCardInfo& info = cards_.at(node.get());
    refs.push_back({node, info.Version, info.HasUid});
  }
  return refs;
}

void TCardIndex::Added(TQuickDom& dom, TNodeRef record) {
  const TNodeRef kept = dom.CurrentNode();
  dom.SetCurrentNode(record);
  if (IsCardRecord(dom)) {
    TCardInfo info = InfoOf(dom);
    for (const std::string& owner : info.Owners) by_owner_[owner].push_back(record);
    cards_[record.get()] = std::move(info);
  }
  dom.SetCurrentNode(kept);
}

void TCardIndex::Removed(const std::vector<TNodeRef>& records) {
  std::unordered_map<std::string, std::unordered_set<void*>> gone_by_owner;
  for (const TNodeRef record : records) {
    const auto card = cards_.find(record.get());
    if (card == cards_.end()) continue;
    for (const std::string& owner : card->second.Owners) gone_by_owner[owner].insert(record.get());
    cards_.erase(card);
  }
  // One pass over each owner's list, however many of its cards go.
  for (const auto& owner_gone : gone_by_owner) {
    const std::unordered_set<void*>& gone = owner_gone.second;
    std::vector<TNodeRef>& list = by_owner_[owner_gone.first];
    std::erase_if(list, [&gone](TNodeRef node) { return gone.contains(node.get()); });
    if (list.empty()) by_owner_.erase(owner_gone.first);
  }
}

void TCardIndex::Touched(TQuickDom& dom, TNodeRef record) {
  const auto card = cards_.find(record.get());
  if (card == cards_.end()) return;
  const TNodeRef kept = dom.CurrentNode();
  dom.SetCurrentNode(record);
  const TCardInfo info = InfoOf(dom);
  dom.SetCurrentNode(kept);
  // The changes made in place (a UID given) leave the owners as they were.
  card->second.Version = info.Version;
  card->second.HasUid = info.HasUid;
}

}  // namespace pelorin
