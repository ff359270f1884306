# Rendered pages and uploads through the service's request handler, in-process
# (pelorin_pages_bench) and over HTTP with wrk (pelorin_bench_server, pages_load.sh).
add_executable(pelorin_pages_bench ${CMAKE_CURRENT_LIST_DIR}/pages_bench.cpp)
target_link_libraries(pelorin_pages_bench PRIVATE pelorin_app benchmark::benchmark Boost::headers)
target_compile_definitions(pelorin_pages_bench PRIVATE PELORIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

add_executable(pelorin_bench_server ${CMAKE_CURRENT_LIST_DIR}/bench_server.cpp)
target_link_libraries(pelorin_bench_server PRIVATE pelorin_app Boost::headers)

# Requests per second over TLS beside plain TCP, from one client (bench/credentials_load.sh).
add_executable(pelorin_tls_load ${CMAKE_CURRENT_LIST_DIR}/tls_load.cpp)
target_link_libraries(pelorin_tls_load PRIVATE OpenSSL::SSL Threads::Threads)
