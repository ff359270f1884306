# The price of a sign-in: a password hash made and checked (yescrypt, and the
# older schemes that verify), and the cache of verified sign-ins.
add_executable(pelorin_credentials_bench ${CMAKE_CURRENT_LIST_DIR}/credentials_bench.cpp)
target_link_libraries(pelorin_credentials_bench PRIVATE pelorin_app benchmark::benchmark)
