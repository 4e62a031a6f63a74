# Tests of the result log file, padprobe.txt beside the executable.
# Included at the end of tests/CMakeLists.txt.

# The log writer's rules over a double of the log services.
padprobe_unit_test(result_log_test
  unit/result_log_test.cpp
  support/fake_log_platform.cpp
  ${SRC}/report/result_log.cpp)

# The log services of the real backend; on Windows its split is held
# against the portable rule of the host stand-in.
padprobe_unit_test(log_platform_test
  unit/log_platform_test.cpp
  ${PADPROBE_PLATFORM_SOURCE})

# The whole program, copied into awkward folders.
if(CMAKE_CROSSCOMPILING)
  add_executable(hold_file support/hold_file.cpp)
  set(padprobe_log_work ${CMAKE_BINARY_DIR}/wine/prefix/drive_c/padprobe-log-test)
  set(padprobe_log_hold $<TARGET_FILE:hold_file>)
else()
  set(padprobe_log_work ${CMAKE_CURRENT_BINARY_DIR}/padprobe-log-test)
  set(padprobe_log_hold -)
endif()
foreach(group beside refused full)
  add_test(NAME result_log_${group}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_result_log.sh ${group}
      ${padprobe_log_work}/${group} ${CMAKE_CURRENT_SOURCE_DIR}/expected/no_driver.txt
      ${PADPROBE_NEWLINE} $<TARGET_FILE:padprobe> ${padprobe_log_hold} ${PADPROBE_RUNNER})
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(result_log_${group} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endforeach()
set_tests_properties(result_log_full PROPERTIES SKIP_RETURN_CODE 77)
