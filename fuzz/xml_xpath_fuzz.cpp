// XPath from clients: any expression, evaluated and walked with the cursor,
// never crashes and never leaves the cursor on a node edits cannot handle.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "xml/quickdom.h"
#include "xml/xml_library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pelorin::InitXmlLibrary();
  static const std::string path = [] {
    const std::string p = "/tmp/pelorin-fuzz-xpath-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(p, std::ios::binary)
        << "<?xml version=\"1.0\"?><!--c--><xBase a=\"1\"><vCard><FN>Ann</FN><ID>1</ID>"
           "<OWNER>ann</OWNER></vCard><vCard><FN>Bob &amp; Co</FN><ID>2</ID><TEL><NUMBER>1"
           "</NUMBER><WORK/></TEL></vCard>text<?pi x?><![CDATA[cd]]></xBase>";
    return p;
  }();
  pelorin::TQuickDom dom;
  if (dom.LoadFromFile(path) != 0) std::abort();
  const std::string xpath(reinterpret_cast<const char*>(data), size);
  int steps = 0;
  for (bool found = dom.SelectNode(xpath); found && steps < 100; found = dom.SelectNextNode(xpath)) {
    ++steps;
    dom.GetText();
    int status = 0;
    dom.GetInteger(status);
    try {
      dom.AddChild("X");
      dom.RemoveCurrent();
    } catch (const std::runtime_error&) {
    }
  }
  if (dom.SelectNode(xpath)) {
    while (dom.RemoveCurrent()) {
      if (!dom.SelectNode(xpath)) break;
    }
  }
  dom.SaveToString();
  return 0;
}
