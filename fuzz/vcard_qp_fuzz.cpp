// The quoted-printable decoder on arbitrary bytes: it never reads past the
// end and never grows its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vcard/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (pelorin::DecodeQuotedPrintable(text).size() > size) std::abort();
  return 0;
}
