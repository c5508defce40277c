# How the Win32 build's tests run under Wine; tests/CMakeLists.txt includes
# it. It builds googletest for MinGW, registers the warm wineserver every
# Wine test shares (fixture "wine"), and gives the wiring below:
#
#   SORVENKA_WINE_RUN    a Windows program under Wine (wine-run.sh)
#   SORVENKA_WINE_RETRY  command prefix of a retried Wine run (wine_retry.py)
#   wine_test_program(TARGET ATTEMPT_TIMEOUT)
#   wine_tests(TEST...)
#   wine_reports_version(TEST EXE VERSION [PROPERTY VALUE...])
#   wine_version_copy(TARGET VERSION DIR COPIES [PROPERTY VALUE...])

find_package(Python3 COMPONENTS Interpreter REQUIRED)

if(NOT TARGET gtest)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Warnings of the project's own code are errors; googletest's are not ours.
  target_compile_options(gtest PRIVATE -Wno-error)
  # MinGW's win32 thread model has no std::mutex: googletest gets its
  # Notification from gtest_notification.h instead.
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest/gtest_notification.h")
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest/gtest_no_debug_output.h")
  target_compile_options(gtest_main PRIVATE -Wno-error)
endif()
include(GoogleTest)

set(SORVENKA_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
# Every Wine run of the suite goes through wine_retry.py: it tries a test
# again only when Wine itself failed (the harness's own exit status, or a
# test program that never reached its own code), logs each retry with the
# test's name, and test.sh ends with their count. A failure of the program
# is never tried again.
set(SORVENKA_WINE_RETRY ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wine_retry.py
    --log ${CMAKE_BINARY_DIR}/infrastructure-retries.log
    --infrastructure-exit ${SORVENKA_INFRASTRUCTURE_EXIT})

# One warm wineserver for the whole run.
add_test(NAME wine_server_start
  COMMAND ${SORVENKA_WINE_RETRY} --setup --name wine_server_start --
          ${CMAKE_CURRENT_LIST_DIR}/wine-env.sh --start-server)
add_test(NAME wine_server_stop COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine-env.sh --stop-server)
set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine)

# wine_test_program(TARGET ATTEMPT_TIMEOUT): a test whose command is TARGET
# runs it under Wine through the retry, ATTEMPT_TIMEOUT seconds an attempt.
function(wine_test_program target attempt_timeout)
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR
    "${SORVENKA_WINE_RETRY};--attempt-timeout;${attempt_timeout};--;${SORVENKA_WINE_RUN}")
endfunction()

# wine_tests(TEST...): the tests run under the warm server, and the retry
# log names each by its ctest name.
function(wine_tests)
  set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED wine)
  foreach(test ${ARGN})
    set_property(TEST ${test} PROPERTY ENVIRONMENT SORVENKA_TEST_NAME=${test})
  endforeach()
endfunction()

# wine_reports_version(TEST EXE VERSION [PROPERTY VALUE...]): the set-up
# test TEST makes Wine report Windows VERSION (win95, win98) to every
# program whose file is named EXE; it runs every time, as a prefix may be
# new. The properties are TEST's.
function(wine_reports_version test exe version)
  add_test(NAME ${test}
    COMMAND ${SORVENKA_WINE_RUN} reg add "HKCU\\Software\\Wine\\AppDefaults\\${exe}"
            /v Version /d ${version} /f)
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine ${ARGN})
endfunction()

# wine_version_copy(TARGET VERSION DIR COPIES [PROPERTY VALUE...]): Wine
# picks the version by the program's file name, so a run as VERSION uses a
# copy of TARGET named TARGET_VERSION.exe in DIR, whose path is appended to
# the list COPIES for a target to build; the set-up test
# wine_version_TARGET_VERSION (with the properties) makes Wine report
# VERSION to it.
function(wine_version_copy target version dir copies)
  set(copy ${dir}/${target}_${version}.exe)
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${copy}
    DEPENDS ${target}
    VERBATIM)
  wine_reports_version(wine_version_${target}_${version} ${target}_${version}.exe ${version}
    ${ARGN})
  set(${copies} ${${copies}} ${copy} PARENT_SCOPE)
endfunction()
