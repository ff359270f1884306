// Posted record fragments: appending one never crashes, and a store that took
// it saves, loads and saves again to the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "xml/quickdom.h"
#include "xml/xml_library.h"

namespace {

std::string StorePath() {
  static const std::string path = "/tmp/pelorin-fuzz-store-" + std::to_string(::getpid()) + ".xml";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelorin::InitXmlLibrary();
  static bool written = [] {
    std::ofstream(StorePath(), std::ios::binary) << "<xBase><vCard><FN>Ann</FN></vCard></xBase>";
    return true;
  }();
  (void)written;
  pelorin::TQuickDom dom;
  if (dom.LoadFromFile(StorePath()) != 0) std::abort();
  dom.SelectRoot();
  std::string errors;
  try {
    dom.AppendFragment(std::string(reinterpret_cast<const char*>(data), size), errors);
  } catch (const std::runtime_error&) {
    if (errors.empty()) std::abort();  // every refusal explains itself
    return 0;
  }
  const std::string saved = dom.SaveToString();
  const std::string copy = StorePath() + ".copy";
  std::ofstream(copy, std::ios::binary) << saved;
  pelorin::TQuickDom again;
  if (again.LoadFromFile(copy) != 0) std::abort();  // a saved store always loads
  if (again.SaveToString() != saved) std::abort();  // and saving is a fixed point
  return 0;
}
