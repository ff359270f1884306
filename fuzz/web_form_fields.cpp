// Splits and decodes form text; checks entry counts and that decoding never grows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/form_fields.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto fields = pelorin::SplitFormFields(input);
  const auto pieces = static_cast<std::size_t>(std::count(input.begin(), input.end(), '&')) + 1;
  Require(input.empty() ? fields.empty() : fields.size() == pieces);

  const std::string decoded = pelorin::DecodeFormPiece(input);
  Require(decoded.size() <= input.size());
  Require(decoded.find('\0') == std::string::npos || input.find('\0') != std::string_view::npos);
  if (input.find_first_of("%+") == std::string_view::npos) Require(decoded == input);

  const auto split = input.find('\n');
  const std::string joined = pelorin::JoinRawParams(input.substr(0, split),
                                                    split == std::string_view::npos ? "" : input.substr(split + 1));
  Require(joined.size() <= input.size() + 2);
  return 0;
}
