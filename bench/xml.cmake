add_executable(pelorin_xml_bench ${CMAKE_CURRENT_LIST_DIR}/xml_bench.cpp)
target_link_libraries(pelorin_xml_bench PRIVATE pelorin_xml benchmark::benchmark)
target_compile_definitions(pelorin_xml_bench PRIVATE
  PELORIN_BENCH_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/data")
