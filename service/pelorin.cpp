// Process entry of pelorind.
#include <cstdio>

#include "xml/xml_library.h"

int main() {
  pelorin::InitXmlLibrary();
  std::fputs("pelorind: the service process is not built yet; only the libraries and tests are.\n",
             stderr);
  return 1;
}
