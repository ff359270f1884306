// Loads a TQuickDom from text through a real file, as the service does.
#ifndef PELORIN_TESTS_XML_DOM_FIXTURE_H_
#define PELORIN_TESTS_XML_DOM_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "tests/temp_dir.h"
#include "xml/quickdom.h"

namespace pelorin::testing {

class DomTest : public ::testing::Test {
 protected:
  // Loads `xml` into dom_ and fails the test when it does not load.
  void Load(const std::string& xml) { ASSERT_EQ(0, LoadInto(dom_, xml)); }

  int LoadInto(TQuickDom& dom, const std::string& bytes) {
    const std::string path = dir_.File("store" + std::to_string(++files_) + ".xml");
    WriteFile(path, bytes);
    return dom.LoadFromFile(path);
  }

  // The store as saved, without the UTF-8 byte-order mark.
  std::string Saved() {
    std::string bytes = dom_.SaveToString();
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return bytes;
  }

  TTempDir dir_;
  TQuickDom dom_;
  int files_ = 0;
};

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_XML_DOM_FIXTURE_H_
