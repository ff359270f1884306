#include "service/journal_entry.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

namespace pelorin {
namespace {

constexpr std::string_view kMagic = "PJ1 ";
constexpr std::size_t kMaxHeaderBytes = 64;

const char* OpName(TJournalOp op) {
  switch (op) {
    case TJournalOp::Delete: return "delete";
    case TJournalOp::Replace: return "replace";
    case TJournalOp::Insert: return "insert";
    case TJournalOp::Upload: return "upload";
    case TJournalOp::Uids: return "uids";
    case TJournalOp::DeleteCards: return "deletecards";
    case TJournalOp::Merge: return "merge";
  }
  return "";
}

const char* StoreName(TStoreKind store) {
  switch (store) {
    case TStoreKind::Cards: return "cards";
    case TStoreKind::Users: return "users";
    case TStoreKind::Config: return "config";
  }
  return "";
}

// Fields are "<length>:<bytes>", so any byte may stand in them.
void PutField(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
}

void PutList(std::string& out, const std::vector<std::string>& items) {
  out += std::to_string(items.size());
  out += ':';
  for (const std::string& item : items) PutField(out, item);
}

// Reads what PutField and PutList wrote, from the front of `in`.
class TFieldReader {
 public:
  explicit TFieldReader(std::string_view in) : in_(in) {}

  std::optional<std::size_t> Number() {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(in_.data(), in_.data() + in_.size(), value);
    if (error != std::errc() || end == in_.data() || end == in_.data() + in_.size() || *end != ':') return std::nullopt;
    in_.remove_prefix(static_cast<std::size_t>(end - in_.data()) + 1);
    return value;
  }
  std::optional<std::string> Field() {
    const std::optional<std::size_t> size = Number();
    if (!size || *size > in_.size()) return std::nullopt;
    std::string field(in_.substr(0, *size));
    in_.remove_prefix(*size);
    return field;
  }
  std::optional<std::vector<std::string>> List() {
    const std::optional<std::size_t> count = Number();
    if (!count || *count > in_.size()) return std::nullopt;
    std::vector<std::string> items;
    items.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
      std::optional<std::string> item = Field();
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
    }
    return items;
  }
  bool AtEnd() const { return in_.empty(); }

 private:
  std::string_view in_;
};

std::string EncodePayload(const TJournalEntry& entry) {
  std::string out;
  out.reserve(entry.Text.size() + entry.XPath.size() + entry.Owner.size() + 24 * entry.Ids.size() + 64);
  PutField(out, StoreName(entry.Store));
  PutField(out, OpName(entry.Op));
  PutField(out, entry.Owner);
  PutField(out, entry.XPath);
  PutField(out, entry.Text);
  PutList(out, entry.Ids);
  PutList(out, entry.Uuids);
  return out;
}

std::optional<TJournalEntry> DecodePayload(std::string_view payload) {
  TFieldReader reader(payload);
  TJournalEntry entry;
  const std::optional<std::string> store = reader.Field();
  const std::optional<std::string> op = reader.Field();
  if (!store || !op) return std::nullopt;
  bool store_known = false, op_known = false;
  for (TStoreKind kind : {TStoreKind::Cards, TStoreKind::Users, TStoreKind::Config}) {
    if (*store == StoreName(kind)) entry.Store = kind, store_known = true;
  }
  for (TJournalOp kind : {TJournalOp::Delete, TJournalOp::Replace, TJournalOp::Insert, TJournalOp::Upload,
                          TJournalOp::Uids, TJournalOp::DeleteCards, TJournalOp::Merge}) {
    if (*op == OpName(kind)) entry.Op = kind, op_known = true;
  }
  std::optional<std::string> owner = reader.Field();
  std::optional<std::string> xpath = reader.Field();
  std::optional<std::string> text = reader.Field();
  std::optional<std::vector<std::string>> ids = reader.List();
  std::optional<std::vector<std::string>> uuids = reader.List();
  if (!store_known || !op_known || !owner || !xpath || !text || !ids || !uuids || !reader.AtEnd()) {
    return std::nullopt;
  }
  entry.Owner = std::move(*owner);
  entry.XPath = std::move(*xpath);
  entry.Text = std::move(*text);
  entry.Ids = std::move(*ids);
  entry.Uuids = std::move(*uuids);
  return entry;
}

}  // namespace

std::uint32_t JournalCrc32(std::string_view bytes, std::uint32_t seed) {
  uLong crc = seed;
  // zlib takes lengths as uInt: large payloads go in pieces.
  while (!bytes.empty()) {
    const std::size_t piece = std::min<std::size_t>(bytes.size(), 1u << 30);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(piece));
    bytes.remove_prefix(piece);
  }
  return static_cast<std::uint32_t>(crc);
}

std::string EncodeJournalEntry(const TJournalEntry& entry) {
  const std::string payload = EncodePayload(entry);
  const std::string seq = std::to_string(entry.Seq);
  char header[kMaxHeaderBytes];
  const int size = std::snprintf(header, sizeof header, "PJ1 %s %zu %08x\n", seq.c_str(), payload.size(),
                                 JournalCrc32(payload, JournalCrc32(seq)));
  std::string out;
  out.reserve(static_cast<std::size_t>(size) + payload.size() + 1);
  out.append(header, static_cast<std::size_t>(size));
  out += payload;
  out += '\n';
  return out;
}

TJournalContents DecodeJournal(std::string_view text) {
  TJournalContents contents;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::string_view rest = text.substr(at);
    const std::size_t line_end = rest.substr(0, kMaxHeaderBytes).find('\n');
    if (!rest.starts_with(kMagic) || line_end == std::string_view::npos) break;
    unsigned long long seq = 0;
    std::size_t size = 0;
    unsigned crc = 0;
    const std::string header(rest.substr(0, line_end));
    char extra = 0;
    if (std::sscanf(header.c_str(), "PJ1 %llu %zu %8x%c", &seq, &size, &crc, &extra) != 3) break;
    const std::size_t payload_at = line_end + 1;
    if (size > rest.size() - payload_at || rest.size() - payload_at - size < 1 || rest[payload_at + size] != '\n') break;
    const std::string_view payload = rest.substr(payload_at, size);
    if (JournalCrc32(payload, JournalCrc32(std::to_string(seq))) != crc) break;
    std::optional<TJournalEntry> entry = DecodePayload(payload);
    if (!entry) break;
    entry->Seq = seq;
    contents.Entries.push_back(std::move(*entry));
    at += payload_at + size + 1;
  }
  contents.ValidBytes = at;
  return contents;
}

}  // namespace pelorin
