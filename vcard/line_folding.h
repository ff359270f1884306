// Folding of written content lines (RFC 6350 3.2, the same for 3.0).
#ifndef PELORIN_VCARD_LINE_FOLDING_H_
#define PELORIN_VCARD_LINE_FOLDING_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace pelorin {

// Octets of one physical line, CR LF not counted.
inline constexpr std::size_t kMaxLineOctets = 75;

// Appends `line` (UTF-8 without CR or LF) as physical lines of at most
// kMaxLineOctets, each ended by CR LF; a continuation line starts with one
// blank, so it holds at most 74 octets of the line. A fold never falls inside
// a UTF-8 sequence.
void AppendFoldedLine(std::string& out, std::string_view line);

}  // namespace pelorin

#endif  // PELORIN_VCARD_LINE_FOLDING_H_
