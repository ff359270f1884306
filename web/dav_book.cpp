#include "web/dav_book.h"

#include <openssl/evp.h>

#include <utility>

#include "vcard/vcard_writer.h"
#include "web/card_request.h"
#include "web/dav_multistatus.h"

namespace pelorin {
namespace {

constexpr char kResourceElement[] = "RESOURCE";
constexpr char kCardSuffix[] = ".vcf";

// A dump of the record's tree, which changes exactly when the record does.
void AppendDump(std::string& out, const TRecordElement& element) {
  out += '<';
  out += element.Name;
  out += '>';
  out += EscapedText(element.Text);
  for (const TRecordElement& child : element.Children) AppendDump(out, child);
  out += "</";
  out += element.Name;
  out += '>';
}

// The first 16 bytes of the SHA-256 of `text`, in hex and quoted.
std::string QuotedDigest(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (unsigned int i = 0; i < 16 && i < length; ++i) {
    quoted += kHex[digest[i] >> 4];
    quoted += kHex[digest[i] & 15];
  }
  return quoted + "\"";
}

TDavCard MakeCard(const TCardRef& ref, const TRecordElement& tree) {
  TDavCard card;
  card.Version = ref.Version;
  card.Node = ref.Node;
  card.Name = CardNameOf(tree);
  card.Id = std::string(ChildText(tree, "ID"));
  card.Etag = EtagOf(tree);
  card.DisplayName = std::string(ChildText(tree, "FN"));
  // A card without REV gets the time it was first written; kept with the
  // card, the same ETag always comes with the same bytes.
  card.Revision = RevisionNow();
  card.Vcard30 = WriteVCard(tree, TvCardVersion::k30, {"", card.Revision});
  return card;
}

bool SameVersions(const std::vector<TCardRef>& refs, const TDavBook& book) {
  if (refs.size() != book.Cards.size()) return false;
  for (std::size_t i = 0; i < refs.size(); ++i) {
    if (refs[i].Version != book.Cards[i].Version) return false;
  }
  return true;
}

}  // namespace

std::string CardNameOf(const TRecordElement& card) {
  const std::string_view chosen = ChildText(card, kResourceElement);
  if (!chosen.empty()) return std::string(chosen);
  return std::string(ChildText(card, "ID")) + kCardSuffix;
}

std::string EtagOf(const TRecordElement& card) {
  std::string dump;
  AppendDump(dump, card);
  return QuotedDigest(dump);
}

TDavBook& TDavBooks::Current(TRecordStore& cards, TDavSyncLog& sync, const std::string& user, std::size_t& added) {
  added = 0;
  const bool known = books_.contains(user);
  TDavBook& book = books_[user];
  if (known && book.ChangeSequence == cards.ChangeSequence()) return book;
  const std::vector<TCardRef> refs = cards.OwnCardRefsWithUids(user, "", added);
  if (known && SameVersions(refs, book)) {
    // Another user's change, or one that left this book as it was.
    book.ChangeSequence = cards.ChangeSequence();
    return book;
  }
  std::unordered_map<std::uint64_t, TDavCard> kept;
  kept.reserve(book.Cards.size());
  for (TDavCard& card : book.Cards) kept.emplace(card.Version, std::move(card));
  TDavBook fresh;
  fresh.Cards.reserve(refs.size());
  for (const TCardRef& ref : refs) {
    if (const auto old = kept.find(ref.Version); old != kept.end()) {
      fresh.Cards.push_back(std::move(old->second));
      continue;
    }
    const std::optional<TRecordElement> tree = cards.CardTree(ref.Node);
    if (tree) fresh.Cards.push_back(MakeCard(ref, *tree));
  }
  // The book's tag and the sync log see (name, ETag) in order; when two cards
  // carry one name, the later one is the one found by that name.
  std::string tags;
  std::vector<std::pair<std::string, std::string>> seen;
  seen.reserve(fresh.Cards.size());
  fresh.ByName.reserve(fresh.Cards.size());
  for (std::size_t i = 0; i < fresh.Cards.size(); ++i) {
    const TDavCard& card = fresh.Cards[i];
    fresh.ByName[std::string_view(card.Name)] = i;
    tags += card.Name;
    tags += card.Etag;
    seen.emplace_back(card.Name, card.Etag);
  }
  fresh.CTag = QuotedDigest(tags);
  fresh.SyncToken = sync.Observe(user, seen);
  fresh.ChangeSequence = cards.ChangeSequence();
  book = std::move(fresh);
  return book;
}

TDavCard* TDavBooks::Find(TDavBook& book, const std::string& name) {
  const auto found = book.ByName.find(std::string_view(name));
  return found == book.ByName.end() ? nullptr : &book.Cards[found->second];
}

std::string TDavBooks::Vcard40Of(TRecordStore& cards, const TDavCard& card) {
  const std::optional<TRecordElement> tree = cards.CardTree(card.Node);
  return tree ? WriteVCard(*tree, TvCardVersion::k40, {"", card.Revision}) : std::string();
}

}  // namespace pelorin
