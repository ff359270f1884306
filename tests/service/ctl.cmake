# The command line, the control client and the Linux service managers, with their
# tests. Included from tests/control/CMakeLists.txt.

# Stands in for the service process in the local manager's tests.
add_executable(pelorin_ctl_fake_service ${CMAKE_SOURCE_DIR}/tests/service/fake_service_main.cpp)
target_link_libraries(pelorin_ctl_fake_service PRIVATE pelorin_app)

add_executable(pelorin_ctl_tests
  ${CMAKE_SOURCE_DIR}/tests/service/command_line_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/servicectl_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/message_box_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/unit_file_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/unit_inputs_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/pid_file_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/service/local_manager_test.cpp
)
target_link_libraries(pelorin_ctl_tests PRIVATE pelorin_app pelorin_test_main)
target_compile_definitions(pelorin_ctl_tests PRIVATE
  PELORIN_FAKE_SERVICE="$<TARGET_FILE:pelorin_ctl_fake_service>")
add_dependencies(pelorin_ctl_tests pelorin_ctl_fake_service)
gtest_discover_tests(pelorin_ctl_tests DISCOVERY_MODE PRE_TEST)
