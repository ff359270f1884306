// Feeds arbitrary upload text through the single-pass reader and checks that
// every record is one well-formed vCard element in valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vcard/vcard_upload_reader.h"
#include "xml/xml_library.h"
#include "xml/xml_ptr.h"

namespace {

bool IsWellFormedRecord(const std::string& xml) {
  pelorin::TXmlErrorCollector errors;
  pelorin::XmlPtr<xmlDoc> doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "r.xml",
                                            "UTF-8", XML_PARSE_NONET));
  if (!doc) return false;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  return root != nullptr && std::string_view(reinterpret_cast<const char*>(root->name)) == "vCard";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pelorin::InitXmlLibrary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelorin::TvCardUploadReader reader(
      std::string_view(reinterpret_cast<const char*>(data), size));
  std::string card_xml;
  while (reader.NextPass(card_xml)) {
    if (!card_xml.empty() && !IsWellFormedRecord(card_xml)) std::abort();
  }
  return 0;
}
