# The crash loop (pelorin_crash_loop): the durability suite's kill-and-check cycle
# of tests/reliability, built here from the same sources so that it needs no
# GoogleTest, run hundreds of times against the real executable.
add_executable(pelorin_crash_loop
  ${CMAKE_CURRENT_LIST_DIR}/crash_loop.cpp
  ${CMAKE_SOURCE_DIR}/tests/http/server_process.cpp
  ${CMAKE_SOURCE_DIR}/tests/reliability/durability_model.cpp
  ${CMAKE_SOURCE_DIR}/tests/reliability/durability_store_file.cpp
  ${CMAKE_SOURCE_DIR}/tests/reliability/durability_workload.cpp
)
target_link_libraries(pelorin_crash_loop PRIVATE pelorin_xml Threads::Threads)
target_compile_definitions(pelorin_crash_loop PRIVATE
  PELORIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  PELORIN_EXECUTABLE="$<TARGET_FILE:pelorind>")
add_dependencies(pelorin_crash_loop pelorind)
