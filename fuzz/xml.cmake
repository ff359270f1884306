pelorin_fuzz_target(xml_fragment_fuzz ${CMAKE_CURRENT_LIST_DIR}/xml_fragment_fuzz.cpp pelorin_xml)
pelorin_fuzz_target(xml_xpath_fuzz ${CMAKE_CURRENT_LIST_DIR}/xml_xpath_fuzz.cpp pelorin_xml)
