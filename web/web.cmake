# The HTTP layer: pure request and response parsing plus the Boost.Beast adapter.
# Included from the top-level CMakeLists.txt, so paths start at the source root.
add_library(pelorin_web STATIC
  ${CMAKE_CURRENT_LIST_DIR}/request_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/form_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/basic_auth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cross_site.cpp
  ${CMAKE_CURRENT_LIST_DIR}/request_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/response_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/client_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sign_in_throttle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_server.cpp
)
target_include_directories(pelorin_web PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(pelorin_web PUBLIC Threads::Threads PRIVATE Boost::headers OpenSSL::SSL)
# gcc warns that ThreadSanitizer cannot see the fences inside Asio's handler
# completion; the warning is about Boost's code, not ours, and -Werror would stop there.
if(PELORIN_TSAN AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(pelorin_web PRIVATE -Wno-tsan)
endif()
