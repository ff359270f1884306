// The text of a vCard upload before cards are cut from it: UTF-16 files
// decoded to UTF-8, and the line rule (a line ends at CR, LF or CR LF; a NUL
// ends the text). Pure functions and a cursor over a caller-owned text.
#ifndef PELORIN_VCARD_UPLOAD_TEXT_H_
#define PELORIN_VCARD_UPLOAD_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// The upload text with every UTF-16 run decoded to UTF-8; other bytes are
// copied unchanged. A run starts at the start of a line (so also as the body
// of one part of a multipart post) with a byte-order mark (FF FE or FE FF,
// which is dropped) or, without one, with "BEGIN:" in UTF-16 (either byte
// order, any case). It ends at the end of the text or at the bytes
// CR LF "--" (the delimiter of the next multipart boundary). Unpaired
// surrogates become U+FFFD; an odd last byte is dropped.
std::string DecodeUploadText(std::string_view raw);

// Walks the lines of a text once. The text must outlive the cursor.
class TLineCursor {
 public:
  // The text ends at its first NUL.
  explicit TLineCursor(std::string_view text);

  // The next line, without its line end; false when no line is left. A line
  // end at the very end of the text starts no further line.
  bool NextLine(std::string_view& line);
  bool AtEnd() const { return pos_ >= text_.size(); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// All lines of `text` by the same rule.
std::vector<std::string> SplitUploadLines(std::string_view text);

}  // namespace pelorin

#endif  // PELORIN_VCARD_UPLOAD_TEXT_H_
