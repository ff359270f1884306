// TvCardUploadReader walks the text of a vCard upload once and yields one
// record per pass, for the upload's loop on the request's thread. It owns a
// decoded copy of the text; it is neither copied nor shared.
//
//   TvCardUploadReader reader(raw_params);
//   std::string card_xml;
//   while (reader.NextPass(card_xml)) {   // false once the remaining text is empty
//     if (card_xml.empty()) continue;     // a pass that found no card start
//     InsertRecord(card_xml);             // may throw; the upload stops there
//   }
//   // card_xml holds what the last pass produced
//
// The passes are those of the loop that splits the remaining text into lines,
// converts the next card with TvCard2XML::ConvertNextCard and rebuilds the
// remaining text from the lines left, each followed by CR LF: the same
// records in the same order, and the same last result. So text that ends
// right after a card's END:VCARD line (with or without its line end) leaves
// that card's record in card_xml; anything after it, even one empty line,
// makes one more pass, which yields empty text. The cost is linear in the
// size of the text.
#ifndef PELORIN_VCARD_VCARD_UPLOAD_READER_H_
#define PELORIN_VCARD_VCARD_UPLOAD_READER_H_

#include <string>
#include <string_view>
#include <vector>

#include "vcard/upload_text.h"
#include "vcard/vcard2xml.h"

namespace pelorin {

class TvCardUploadReader {
 public:
  // Copies the upload text, decoding UTF-16 parts (DecodeUploadText).
  explicit TvCardUploadReader(std::string_view raw_params);
  TvCardUploadReader(const TvCardUploadReader&) = delete;
  TvCardUploadReader& operator=(const TvCardUploadReader&) = delete;

  // Runs one pass and stores its record XML (empty when no card start was
  // left) in `card_xml`. False, with `card_xml` untouched, when the remaining
  // text is empty.
  bool NextPass(std::string& card_xml);

  // Of the card the last pass gave: its FN and what was changed on the way
  // in (TvCard2XML::CardName, Notes).
  const std::string& CardName() const { return converter_.CardName; }
  const std::vector<std::string>& Notes() const { return converter_.Notes; }

 private:
  const std::string text_;
  TLineCursor cursor_;  // views text_
  bool first_pass_ = true;
  TvCard2XML converter_;
};

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_UPLOAD_READER_H_
