# vCard conversion: cards per second through the single-pass upload reader.
add_executable(pelorin_vcard_bench ${CMAKE_CURRENT_SOURCE_DIR}/vcard_bench.cpp)
target_link_libraries(pelorin_vcard_bench PRIVATE pelorin_vcard benchmark::benchmark)
