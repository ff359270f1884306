#include "web/card_duplicates.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "web/card_listing.h"
#include "web/dav_multistatus.h"
#include "web/request_info.h"
#include "xml/xml_escape.h"

namespace pelorin {
namespace {

std::string Digits(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c >= '0' && c <= '9') out += c;
  }
  return out;
}

// The name N gives: prefix, given, middle, family, suffix.
std::string NameOfN(const TRecordElement& n) {
  std::string out;
  for (const char* part : {"PREFIX", "GIVEN", "MIDDLE", "FAMILY", "SUFFIX"}) out += std::string(ChildText(n, part)) + " ";
  return NormalizedSpace(out);
}

std::size_t Root(std::vector<std::size_t>& parent, std::size_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

// One property with the PARAMS element that belongs to it.
struct TUnit {
  const TRecordElement* Element = nullptr;
  const TRecordElement* Params = nullptr;
  bool operator==(const TUnit& other) const {
    return *Element == *other.Element &&
           (Params == nullptr ? other.Params == nullptr : other.Params != nullptr && *Params == *other.Params);
  }
};

std::vector<TUnit> UnitsOf(const TRecordElement& card) {
  std::vector<TUnit> units;
  for (const TRecordElement& child : card.Children) {
    if (child.Name == "PARAMS" && !units.empty() && units.back().Params == nullptr) {
      units.back().Params = &child;
      continue;
    }
    units.push_back({&child, nullptr});
  }
  return units;
}

bool Among(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A property's value as one text: its own text, or its parts' and markers'.
std::string ValueText(const TRecordElement& element) {
  if (!element.Text.empty()) return element.Text;
  std::string out;
  for (const TRecordElement& child : element.Children) {
    if (!out.empty()) out += ' ';
    out += child.Text.empty() ? child.Name : child.Text;
  }
  return out;
}

std::string PropName(const TRecordElement& prop) { return std::string(ChildText(prop, "NAME")); }

void AppendRecordXml(std::string& out, const TRecordElement& element) {
  out += '<';
  out += element.Name;
  if (element.Text.empty() && element.Children.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  AppendEscapedText(out, element.Text);
  for (const TRecordElement& child : element.Children) AppendRecordXml(out, child);
  out += "</";
  out += element.Name;
  out += '>';
}

std::vector<TRecordElement> OwnTrees(TRecordStore& cards, const std::string& owner, std::vector<TNodeRef>& nodes) {
  std::vector<TRecordElement> trees;
  for (const TCardRef& ref : cards.OwnCards(owner)) {
    std::optional<TRecordElement> tree = cards.CardTree(ref.Node);
    if (!tree) continue;
    trees.push_back(std::move(*tree));
    nodes.push_back(ref.Node);
  }
  return trees;
}

}  // namespace

std::vector<TDuplicateGroup> FindDuplicates(const std::vector<TRecordElement>& cards) {
  // Every key a card gives, with the cards that give it; cards sharing a key
  // are joined into one group.
  struct TKey {
    std::string Kind;
    std::string Shown;
    std::vector<std::size_t> Cards;
  };
  std::vector<TKey> keys;
  std::unordered_map<std::string, std::size_t> key_at;
  const auto add = [&](const char* kind, const std::string& folded, const std::string& shown, std::size_t card) {
    if (folded.empty()) return;
    const auto [found, fresh] = key_at.emplace(std::string(kind) + '\n' + folded, keys.size());
    if (fresh) keys.push_back({kind, shown, {}});
    std::vector<std::size_t>& holders = keys[found->second].Cards;
    if (holders.empty() || holders.back() != card) holders.push_back(card);
  };
  for (std::size_t i = 0; i < cards.size(); ++i) {
    for (const TRecordElement& child : cards[i].Children) {
      if (child.Name == "EMAIL") {
        const std::string address = NormalizedSpace(ChildText(child, "USERID"));
        add("e-mail", FoldedForListing(address), address, i);
      } else if (child.Name == "TEL") {
        const std::string number = NormalizedSpace(ChildText(child, "NUMBER"));
        const std::string digits = Digits(number);
        if (digits.size() >= kMinPhoneDigits) add("phone", digits, number, i);
      } else if (child.Name == "FN") {
        const std::string name = NormalizedSpace(child.Text);
        add("name", FoldedForListing(name), name, i);
      } else if (child.Name == "N") {
        const std::string name = NormalizedSpace(std::string(ChildText(child, "GIVEN")) + " " +
                                          std::string(ChildText(child, "MIDDLE")) + " " +
                                          std::string(ChildText(child, "FAMILY")));
        add("name", FoldedForListing(name), name, i);
      }
    }
  }
  std::vector<std::size_t> parent(cards.size());
  std::iota(parent.begin(), parent.end(), 0);
  for (const TKey& key : keys) {
    for (std::size_t k = 1; k < key.Cards.size(); ++k) parent[Root(parent, key.Cards[k])] = Root(parent, key.Cards[0]);
  }
  std::vector<std::size_t> members(cards.size(), 0);
  for (std::size_t i = 0; i < cards.size(); ++i) ++members[Root(parent, i)];
  std::unordered_map<std::size_t, std::size_t> group_of_root;
  std::vector<TDuplicateGroup> groups;
  for (std::size_t i = 0; i < cards.size(); ++i) {
    const std::size_t root = Root(parent, i);
    if (members[root] < 2) continue;
    const auto [found, fresh] = group_of_root.emplace(root, groups.size());
    if (fresh) groups.emplace_back();
    groups[found->second].Cards.push_back(i);
  }
  for (const TKey& key : keys) {
    if (key.Cards.size() < 2) continue;
    groups[group_of_root.at(Root(parent, key.Cards[0]))].Reasons.push_back({key.Kind, key.Shown});
  }
  return groups;
}

TRecordElement MergedCard(const TRecordElement& kept, const TRecordElement& other) {
  TRecordElement merged;
  merged.Name = kept.Name;
  for (const TRecordElement& child : kept.Children) {
    if (child.Name != "OWNER") merged.Children.push_back(child);
  }
  const std::vector<TUnit> kept_units = UnitsOf(kept);
  const auto kept_has = [&](std::string_view name) {
    return std::any_of(kept_units.begin(), kept_units.end(), [&](const TUnit& unit) { return unit.Element->Name == name; });
  };
  const auto kept_has_prop = [&](const std::string& name) {
    return std::any_of(kept_units.begin(), kept_units.end(), [&](const TUnit& unit) {
      return unit.Element->Name == "PROP" && EqualsIgnoringCase(PropName(*unit.Element), name);
    });
  };
  // A name already shown (as FN or a NICKNAME) is not added again.
  const auto add_nickname = [&](const std::string& name) {
    const std::string folded = FoldedForListing(NormalizedSpace(name));
    if (folded.empty()) return;
    for (const TRecordElement& child : merged.Children) {
      if ((child.Name == "FN" || child.Name == "NICKNAME") && FoldedForListing(NormalizedSpace(child.Text)) == folded) return;
      if (child.Name == "N" && FoldedForListing(NameOfN(child)) == folded) return;
    }
    merged.Children.push_back({"NICKNAME", NormalizedSpace(name), {}});
  };
  const auto add_kept_aside = [&](const std::string& name, const std::string& value) {
    merged.Children.push_back(
        {"PROP", "", {{"NAME", "X-MERGED-" + name, {}}, {"VALUE", value, {}}}});
  };
  for (const TUnit& unit : UnitsOf(other)) {
    const TRecordElement& element = *unit.Element;
    if (Among(element.Name, {"OWNER", "ID", "UID", "RESOURCE", "VERSION", "PRODID", "REV"})) continue;
    if (std::find(kept_units.begin(), kept_units.end(), unit) != kept_units.end()) continue;
    if (element.Name == "FN" && kept_has("FN")) {
      add_nickname(element.Text);
      continue;
    }
    if (element.Name == "N" && kept_has("N")) {
      add_nickname(NameOfN(element));
      continue;
    }
    if (Among(element.Name, {"BDAY", "CLASS", "SORTSTR"}) && kept_has(element.Name)) {
      add_kept_aside(element.Name == "SORTSTR" ? "SORT-STRING" : element.Name, ValueText(element));
      continue;
    }
    if (element.Name == "PROP" && kept_has_prop(PropName(element))) {
      const std::string name = PropName(element);
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      if (Among(upper, {"KIND", "GENDER", "ANNIVERSARY"})) {
        TRecordElement aside = element;
        for (TRecordElement& part : aside.Children) {
          if (part.Name == "NAME") part.Text = "X-MERGED-" + name;
        }
        merged.Children.push_back(std::move(aside));
        if (unit.Params != nullptr) merged.Children.push_back(*unit.Params);
        continue;
      }
    }
    // The same address or number written otherwise (another case, other
    // separators) is one property: the kept card's spelling stays, and it
    // takes the other's type markers. With parameters of its own (a group, a
    // label) the other stays whole, so that nothing of it is lost.
    if (unit.Params == nullptr && (element.Name == "EMAIL" || element.Name == "TEL")) {
      const auto key = [](const TRecordElement& e) {
        return e.Name == "EMAIL" ? FoldedForListing(NormalizedSpace(ChildText(e, "USERID"))) : Digits(NormalizedSpace(ChildText(e, "NUMBER")));
      };
      const std::string wanted = key(element);
      const auto same = std::find_if(merged.Children.begin(), merged.Children.end(), [&](const TRecordElement& e) {
        return e.Name == element.Name && !wanted.empty() && key(e) == wanted;
      });
      if (same != merged.Children.end()) {
        for (const TRecordElement& marker : element.Children) {
          const bool is_marker = marker.Text.empty() && marker.Children.empty();
          if (is_marker && FindChild(*same, marker.Name) == nullptr) same->Children.push_back(marker);
        }
        continue;
      }
    }
    merged.Children.push_back(element);
    if (unit.Params != nullptr) merged.Children.push_back(*unit.Params);
  }
  return merged;
}

std::string RecordXml(const TRecordElement& record) {
  std::string out;
  AppendRecordXml(out, record);
  return out;
}

void LoadDuplicatesDocument(TRecordStore& cards, const std::string& owner, TQuickDom& document) {
  std::vector<TNodeRef> nodes;
  const std::vector<TRecordElement> trees = OwnTrees(cards, owner, nodes);
  const std::vector<TDuplicateGroup> groups = FindDuplicates(trees);
  std::vector<TNodeRef> shown;
  std::string xml = "<DUPLICATES>";
  for (const TDuplicateGroup& group : groups) {
    xml += "<GROUP>";
    for (const TDuplicateReason& reason : group.Reasons) {
      xml += "<WHY><KIND>" + EscapedText(reason.Kind) + "</KIND><VALUE>" + EscapedText(reason.Value) + "</VALUE></WHY>";
    }
    for (const std::size_t card : group.Cards) {
      xml += "<CARD>" + EscapedText(std::string(ChildText(trees[card], "ID"))) + "</CARD>";
      shown.push_back(nodes[card]);
    }
    xml += "</GROUP>";
  }
  xml += "</DUPLICATES>";
  document.LoadSelection(cards.Dom(), shown);
  if (!document.SelectRoot()) return;
  std::string ErrorText;
  document.AppendFragment(xml, ErrorText);  // escaped throughout, so well-formed
}

bool OwnCardPair(TRecordStore& cards, const std::string& owner, const std::string& keep_id,
                 const std::string& other_id, TRecordElement& kept, TRecordElement& other) {
  if (keep_id.empty() || other_id.empty() || keep_id == other_id) return false;
  const std::vector<TCardRef> keep_refs = cards.OwnCards(owner, keep_id);
  const std::vector<TCardRef> other_refs = cards.OwnCards(owner, other_id);
  if (keep_refs.size() != 1 || other_refs.size() != 1) return false;
  std::optional<TRecordElement> keep_tree = cards.CardTree(keep_refs.front().Node);
  std::optional<TRecordElement> other_tree = cards.CardTree(other_refs.front().Node);
  if (!keep_tree || !other_tree) return false;
  kept = std::move(*keep_tree);
  other = std::move(*other_tree);
  return true;
}

void LoadMergeDocument(TRecordStore& cards, const std::string& owner, const std::string& keep_id,
                       const std::string& other_id, TQuickDom& document) {
  TRecordElement kept, other;
  const bool pair = OwnCardPair(cards, owner, keep_id, other_id, kept, other);
  std::vector<TNodeRef> shown;
  if (pair) {
    shown.push_back(cards.OwnCards(owner, keep_id).front().Node);
    shown.push_back(cards.OwnCards(owner, other_id).front().Node);
  }
  document.LoadSelection(cards.Dom(), shown);
  if (!pair || !document.SelectRoot()) return;
  const std::string xml = "<MERGE><KEEP>" + EscapedText(keep_id) + "</KEEP><OTHER>" + EscapedText(other_id) +
                          "</OTHER>" + RecordXml(MergedCard(kept, other)) + "</MERGE>";
  std::string ErrorText;
  document.AppendFragment(xml, ErrorText);
}

}  // namespace pelorin
