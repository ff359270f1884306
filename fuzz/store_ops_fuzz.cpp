// Sequences of record changes on a store, as users post them: inserts, edits,
// deletes and uploads by two users. Whatever the sequence, every change is
// whole or absent (a refused one leaves the document as it was), and the
// store saved at the end loads again to the same document.
//
// Input: the first byte picks the store (cards, users, configuration) and the
// encoding of its file (UTF-8 or ISO-8859-1); then operations separated by NUL:
// a letter (i insert, e edit, d delete, u upload), a user digit (0 alice,
// 1 bob), then the fields separated by \x01: "e" takes an XPath and a
// fragment, "d" an XPath, "i" a fragment, "u" an upload's text.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "service/record_store.h"
#include "xml/xml_library.h"

namespace {

using pelorin::TRecordOutcome;
using pelorin::TRecordStore;
using pelorin::TStoreKind;

std::string FuzzPath(const char* what) {
  return "/tmp/pelorin-fuzz-" + std::to_string(::getpid()) + "-" + what + ".xml";
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The store a service starts with: two users' cards, or two accounts, or a
// configuration, each in the chosen encoding.
std::string FirstStore(TStoreKind kind, bool latin1) {
  std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + (latin1 ? "ISO-8859-1" : "UTF-8") + "\"?>\r\n";
  switch (kind) {
    case TStoreKind::Cards:
      return text +
             "<xBase>\r\n  <vCard>\r\n    <FN>Ann</FN>\r\n    <OWNER>alice</OWNER>\r\n    <ID>1</ID>\r\n  </vCard>\r\n"
             "  <vCard><FN>Bo</FN><NOTE>one<b/>two</NOTE><OWNER>bob</OWNER><ID>2</ID></vCard>\r\n</xBase>\r\n";
    case TStoreKind::Users:
      return text + "<xUser><User><USER>admin</USER><PASSWORD>x</PASSWORD><ADMIN/></User></xUser>\r\n";
    case TStoreKind::Config:
      return text + "<xConfig>\r\n  <Port>8080</Port>\r\n</xConfig>\r\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelorin::InitXmlLibrary();
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const TStoreKind kind = static_cast<TStoreKind>(static_cast<unsigned char>(input[0]) % 3);
  const bool latin1 = (static_cast<unsigned char>(input[0]) / 3) % 2 == 1;
  const std::string first = FuzzPath("first");
  WriteFile(first, FirstStore(kind, latin1));

  TRecordStore store(kind, "/pelorin/base.xml");
  if (store.LoadFromFile(first) != 0) std::abort();
  std::int64_t tick = 0;
  store.RecordClock = [&tick] { return 46'000'000'000'000'000LL + 86'400 * ++tick; };

  for (const std::string_view op : Split(input.substr(1), '\0')) {
    if (op.size() < 2) continue;
    const std::string owner = op[1] == '1' ? "bob" : "alice";
    const std::vector<std::string_view> fields = Split(op.substr(2), '\x01');
    const auto field = [&](std::size_t i) { return i < fields.size() ? std::string(fields[i]) : std::string(); };
    const std::string before = store.Dom().SaveToString();
    const std::uint64_t sequence = store.ChangeSequence();
    TRecordOutcome outcome;
    switch (op[0]) {
      case 'i': outcome = store.InsertRecord(field(0), owner); break;
      case 'e': outcome = store.ReplaceRecord(field(0), field(1), owner); break;
      case 'd': outcome = store.DeleteSelected(field(0), owner); break;
      case 'u': outcome = store.InsertUpload(op.substr(2), owner); break;
      default: continue;
    }
    const bool unchanged = store.Dom().SaveToString() == before;
    // A refused or failed change leaves nothing behind; an upload's undo may
    // move the sequence, but never leaves the document other than it was.
    if (!outcome && !unchanged) std::abort();
    if (outcome && outcome.Changed == 0 && op[0] != 'u' && !unchanged) std::abort();
    if (!unchanged && store.ChangeSequence() == sequence) std::abort();  // a change the sequence missed
  }

  const std::string saved = FuzzPath("saved");
  store.SaveToFile(saved);
  TRecordStore again(kind, "/pelorin/base.xml");
  if (again.LoadFromFile(saved) != 0) std::abort();  // every saved store loads
  if (again.Dom().SaveToString() != store.Dom().SaveToString()) std::abort();  // and is the same document
  return 0;
}
