#include "web/card_listing.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "web/dav_multistatus.h"
#include "web/request_info.h"

namespace pelorin {
namespace {

// Phone numbers match whatever separators the search or the card writes.
constexpr std::string_view kNumberSeparators = " -/().";

// The plain letters of U+00C0 to U+00FF, lower case; "" where there is none
// (the multiplication and division signs stay as they are).
constexpr const char* kLatin1Folded[64] = {
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // U+00C0
    "d", "n", "o", "o", "o", "o", "o", "",  "o", "u", "u", "u", "u", "y", "th", "ss",  // U+00D0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",   // U+00E0
    "d", "n", "o", "o", "o", "o", "o", "",  "o", "u", "u", "u", "u", "y", "th", "y",   // U+00F0
};

std::string WithoutSeparators(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (kNumberSeparators.find(c) == std::string_view::npos) out += c;
  }
  return out;
}

char LetterOf(const std::string& key) {
  if (!key.empty() && key[0] >= 'a' && key[0] <= 'z') return static_cast<char>(key[0] - 'a' + 'A');
  return '#';
}

// The texts of every child of `parent` named `name` (for "N" and "ORG": of
// their parts), each appended to `out` folded and on its own line.
void AppendFolded(std::string& out, const TRecordElement& card, std::string_view name, std::string_view part) {
  for (const TRecordElement& child : card.Children) {
    if (child.Name != name) continue;
    if (part.empty()) {
      out += FoldedForListing(child.Text);
      out += '\n';
      continue;
    }
    for (const TRecordElement& inner : child.Children) {
      if (part != "*" && inner.Name != part) continue;
      out += FoldedForListing(inner.Text);
      out += '\n';
    }
  }
}

std::string FirstPart(const TRecordElement& card, std::string_view name, std::string_view part) {
  const TRecordElement* child = FindChild(card, name);
  return child == nullptr ? std::string() : std::string(ChildText(*child, part));
}

std::size_t NumberField(const std::vector<std::string>& fields, std::string_view name, std::size_t fallback) {
  const std::string text = FieldValue(fields, name);
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return fallback;
  return value;
}

}  // namespace

std::string NormalizedSpace(std::string_view text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (space) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

std::string FoldedForListing(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 'A' && byte <= 'Z') {
      out += static_cast<char>(byte - 'A' + 'a');
    } else if ((byte == 0xC3) && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      const unsigned code = 0xC0 + (next & 0x3F);
      const char* plain = (next & 0xC0) == 0x80 ? kLatin1Folded[code - 0xC0] : "";
      if (*plain != '\0') {
        out += plain;
        ++i;
      } else {
        out += text[i];
      }
    } else {
      out += text[i];
    }
  }
  return out;
}

TListingRequest ListingRequestOf(const std::vector<std::string>& fields) {
  TListingRequest request;
  request.Query = FieldValue(fields, "q");
  const std::string sort = FieldValue(fields, "sort");
  if (sort == "given") request.Sort = TListingSort::Given;
  if (sort == "org") request.Sort = TListingSort::Organisation;
  request.Page = std::max<std::size_t>(1, NumberField(fields, "page", 1));
  request.PageSize = std::clamp(NumberField(fields, "size", kDefaultPageSize), kMinPageSize, kMaxPageSize);
  return request;
}

void TCardListings::Refresh(TRecordStore& cards, const std::string& owner, TOwnerListing& listing) {
  if (listing.Built && listing.ChangeSequence == cards.ChangeSequence()) return;
  // The list shows the cards as they are: UIDs are given by the exports and DAV.
  const std::vector<TCardRef> refs = cards.OwnCards(owner);
  std::unordered_map<std::uint64_t, TEntry> kept;
  kept.reserve(listing.Entries.size());
  bool same = listing.Built && refs.size() == listing.Entries.size();
  for (std::size_t i = 0; same && i < refs.size(); ++i) same = refs[i].Version == listing.Entries[i].Version;
  listing.ChangeSequence = cards.ChangeSequence();
  if (same) return;
  for (TEntry& entry : listing.Entries) kept.emplace(entry.Version, std::move(entry));
  std::vector<TEntry> entries;
  entries.reserve(refs.size());
  for (const TCardRef& ref : refs) {
    if (const auto old = kept.find(ref.Version); old != kept.end()) {
      old->second.Node = ref.Node;
      entries.push_back(std::move(old->second));
      continue;
    }
    const std::optional<TRecordElement> card = cards.CardTree(ref.Node);
    if (!card) continue;
    TEntry entry;
    entry.Version = ref.Version;
    entry.Node = ref.Node;
    // The keys follow the name the list shows: family and given name, else
    // the full name, the organisation or the e-mail address.
    const std::string family = FirstPart(*card, "N", "FAMILY");
    const std::string given = NormalizedSpace(FirstPart(*card, "N", "GIVEN") + " " + FirstPart(*card, "N", "MIDDLE"));
    std::string shown = NormalizedSpace(ChildText(*card, "FN"));
    if (shown.empty()) shown = FirstPart(*card, "ORG", "ORGNAME");
    if (shown.empty()) shown = FirstPart(*card, "EMAIL", "USERID");
    const std::string title = family.empty() ? (given.empty() ? shown : given) : family + "\n" + given;
    const std::string organisation = FirstPart(*card, "ORG", "ORGNAME");
    entry.Keys[0] = FoldedForListing(title);
    entry.Keys[1] = FoldedForListing(given.empty() ? title : given + "\n" + family);
    // Cards without an organisation come after those with one.
    entry.Keys[2] = organisation.empty() ? "\x7f" + entry.Keys[0] : FoldedForListing(organisation) + "\n" + entry.Keys[0];
    for (int k = 0; k < 3; ++k) entry.Letters[k] = LetterOf(entry.Keys[k]);
    AppendFolded(entry.Haystack, *card, "FN", "");
    AppendFolded(entry.Haystack, *card, "N", "*");
    AppendFolded(entry.Haystack, *card, "NICKNAME", "");
    AppendFolded(entry.Haystack, *card, "ORG", "*");
    AppendFolded(entry.Haystack, *card, "EMAIL", "USERID");
    AppendFolded(entry.Haystack, *card, "TEL", "NUMBER");
    for (const TRecordElement& tel : card->Children) {
      if (tel.Name != "TEL") continue;
      entry.Digits += WithoutSeparators(ChildText(tel, "NUMBER"));
      entry.Digits += '\n';
    }
    entries.push_back(std::move(entry));
  }
  listing.Entries = std::move(entries);
  for (std::vector<std::uint32_t>& order : listing.Orders) order.clear();
  listing.Built = true;
}

const std::vector<std::uint32_t>& TCardListings::Order(TOwnerListing& listing, TListingSort sort) {
  std::vector<std::uint32_t>& order = listing.Orders[static_cast<int>(sort)];
  if (order.size() == listing.Entries.size()) return order;
  order.resize(listing.Entries.size());
  std::iota(order.begin(), order.end(), 0u);
  const int k = static_cast<int>(sort);
  // Ties keep store order, so the list does not shuffle between requests.
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return listing.Entries[a].Keys[k] < listing.Entries[b].Keys[k];
  });
  return order;
}

TListingPage TCardListings::Page(TRecordStore& cards, const std::string& owner, const TListingRequest& request) {
  TOwnerListing& listing = owners_[owner];
  Refresh(cards, owner, listing);
  TListingPage page;
  page.Request = request;
  page.Total = listing.Entries.size();
  const std::vector<std::uint32_t>& order = Order(listing, request.Sort);
  const std::string needle = FoldedForListing(NormalizedSpace(request.Query));
  const std::string needle_digits = WithoutSeparators(needle);
  std::vector<std::uint32_t> found;
  if (!needle.empty()) {
    for (const std::uint32_t i : order) {
      const TEntry& entry = listing.Entries[i];
      if (entry.Haystack.find(needle) != std::string::npos ||
          (!needle_digits.empty() && entry.Digits.find(needle_digits) != std::string::npos)) {
        found.push_back(i);
      }
    }
  }
  const std::vector<std::uint32_t>& matching = needle.empty() ? order : found;
  const std::size_t size = request.PageSize;
  page.Matching = matching.size();
  page.Pages = std::max<std::size_t>(1, (matching.size() + size - 1) / size);
  page.Page = std::min(request.Page, page.Pages);
  const std::size_t begin = (page.Page - 1) * size;
  const std::size_t end = std::min(matching.size(), begin + size);
  if (begin < end) {
    page.First = begin + 1;
    page.Last = end;
  }
  for (std::size_t i = begin; i < end; ++i) page.Cards.push_back(listing.Entries[matching[i]].Node);
  // The first card of each letter; "#" (digits, signs, other scripts) last.
  const int k = static_cast<int>(request.Sort);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::array<std::size_t, 27> first;
  first.fill(kNone);
  for (std::size_t i = 0; i < matching.size(); ++i) {
    const char letter = listing.Entries[matching[i]].Letters[k];
    std::size_t& slot = first[letter == '#' ? 26 : letter - 'A'];
    if (slot == kNone) slot = i;
  }
  for (std::size_t slot = 0; slot < first.size(); ++slot) {
    if (first[slot] == kNone) continue;
    page.Letters.push_back({slot == 26 ? std::string("#") : std::string(1, static_cast<char>('A' + slot)),
                            first[slot] / size + 1});
  }
  return page;
}

void LoadListingDocument(TRecordStore& cards, TCardListings& listings, const std::string& owner,
                         const std::vector<std::string>& fields, TQuickDom& document) {
  const TListingPage page = listings.Page(cards, owner, ListingRequestOf(fields));
  document.LoadSelection(cards.Dom(), page.Cards);
  if (!document.SelectRoot()) return;
  std::string ErrorText;
  document.AppendFragment(page.Xml(), ErrorText);  // escaped throughout, so well-formed
}

std::string TListingPage::Xml() const {
  static constexpr const char* kSortNames[] = {"family", "given", "org"};
  std::string xml = "<LISTING>";
  const auto add = [&](const char* name, const std::string& value) { AppendTextElement(xml, name, value); };
  add("TOTAL", std::to_string(Total));
  add("MATCHING", std::to_string(Matching));
  add("FIRST", std::to_string(First));
  add("LAST", std::to_string(Last));
  add("PAGE", std::to_string(Page));
  add("PAGES", std::to_string(Pages));
  add("SIZE", std::to_string(Request.PageSize));
  add("SORT", kSortNames[static_cast<int>(Request.Sort)]);
  add("QUERY", Request.Query);
  for (const TListingLetter& letter : Letters) {
    xml += "<LETTER><CHAR>" + letter.Letter + "</CHAR><AT>" + std::to_string(letter.Page) + "</AT></LETTER>";
  }
  return xml + "</LISTING>";
}

}  // namespace pelorin
