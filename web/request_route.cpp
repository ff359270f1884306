#include "web/request_route.h"

namespace pelorin {

std::string PathExtension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(path.substr(dot));
  if (ext.find_first_of("\\:") != std::string::npos) return {};
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ext;
}

}  // namespace pelorin
