#include "vcard/vcard_upload_reader.h"

namespace pelorin {

TvCardUploadReader::TvCardUploadReader(std::string_view raw_params)
    : text_(DecodeUploadText(raw_params)), cursor_(text_) {}

bool TvCardUploadReader::NextPass(std::string& card_xml) {
  // The first pass runs whenever there is text, even text whose first
  // character is a NUL and so holds no line; later passes need a line left
  // or a nested card still to give.
  const bool remaining = first_pass_ ? !text_.empty() : !cursor_.AtEnd() || converter_.HasNestedCard();
  if (!remaining) return false;
  first_pass_ = false;
  card_xml = converter_.ConvertNextCard(cursor_);
  return true;
}

}  // namespace pelorin
