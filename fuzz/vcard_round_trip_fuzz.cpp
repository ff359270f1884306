// Any vCard text: every card the reader makes of it, written as vCard 3.0 and
// 4.0 and read again, gives the same record (VERSION aside). Cards the writer
// must complete (no FN; no N in 3.0) and 4.0 cards written as 3.0 (which read
// back with the types 3.0 implies) are not compared; everything else must hold.
// A card read from 2.1 keeps the values of properties without a mapping as
// 2.1 wrote them; the writer gives them the escapes of 3.0 and 4.0, so they
// come back in those.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "vcard/vcard_escape.h"
#include "vcard/vcard_record.h"
#include "vcard/vcard_upload_reader.h"
#include "vcard/vcard_writer.h"
#include "xml/record_tree.h"
#include "xml/xml_library.h"

namespace {

using pelorin::TRecordElement;

std::vector<TRecordElement> ReadCards(const std::string& text) {
  std::vector<TRecordElement> cards;
  pelorin::TvCardUploadReader reader(text);
  std::string xml;
  while (reader.NextPass(xml)) {
    if (xml.empty()) continue;
    std::optional<TRecordElement> card = pelorin::RecordTreeFromXml(xml);
    if (!card) std::abort();  // the reader's records are always well-formed
    cards.push_back(std::move(*card));
  }
  return cards;
}

TRecordElement WithoutVersion(TRecordElement card) {
  std::erase_if(card.Children, [](const TRecordElement& e) { return e.Name == "VERSION"; });
  return card;
}

// The record as it reads back from 3.0 or 4.0: without VERSION, and the raw
// values of a 2.1 card's generic properties in the escapes of those versions.
TRecordElement AsWritten(const TRecordElement& card) {
  const bool from_21 = pelorin::ChildText(card, "VERSION").starts_with('2');
  TRecordElement out = WithoutVersion(card);
  if (!from_21) return out;
  for (TRecordElement& child : out.Children) {
    if (child.Name != "PROP") continue;
    for (TRecordElement& part : child.Children) {
      if (part.Name == "VALUE") part.Text = pelorin::Reescape21Value(part.Text);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelorin::InitXmlLibrary();
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const TRecordElement& card : ReadCards(text)) {
    const bool has_fn = pelorin::FindChild(card, "FN") != nullptr;
    const bool has_n = pelorin::FindChild(card, "N") != nullptr;
    // The reader takes the version from the first VERSION line it finds; a card
    // with several may differ from the first VERSION element, so any 4.0 counts.
    const bool from_4 = std::any_of(card.Children.begin(), card.Children.end(), [](const TRecordElement& e) {
      return e.Name == "VERSION" && (e.Text == "4.0" || e.Text == "4");
    });
    for (const pelorin::TvCardVersion version : {pelorin::TvCardVersion::k30, pelorin::TvCardVersion::k40}) {
      if (!has_fn || (version == pelorin::TvCardVersion::k30 && (!has_n || from_4))) continue;
      const std::vector<TRecordElement> again = ReadCards(pelorin::WriteVCard(card, version, {}));
      if (again.size() != 1 || WithoutVersion(again[0]) != AsWritten(card)) std::abort();
    }
  }
  return 0;
}
