#include "vcard/line_folding.h"

#include "vcard/utf8_repair.h"

namespace pelorin {

void AppendFoldedLine(std::string& out, std::string_view line) {
  std::size_t room = kMaxLineOctets;
  bool first = true;
  while (true) {
    if (!first) out += ' ';
    if (line.size() <= room) {
      out.append(line);
      out += "\r\n";
      return;
    }
    std::size_t cut = room;
    while (cut > 0 && IsUtf8Continuation(line[cut])) --cut;
    // Only bytes that are no UTF-8 (which the writer replaces beforehand)
    // could leave no place to cut; then the line is cut where it is full.
    if (cut == 0) cut = room;
    out.append(line.substr(0, cut));
    out += "\r\n";
    line.remove_prefix(cut);
    first = false;
    room = kMaxLineOctets - 1;
  }
}

}  // namespace pelorin
