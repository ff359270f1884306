// Shared main of the test binaries.
#include <gtest/gtest.h>

#include "xml/xml_library.h"

int main(int argc, char** argv) {
  pelorin::InitXmlLibrary();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
