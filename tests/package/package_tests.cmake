# Tests of the installed tree, the Debian package, the document API's example
# host and the README's commands, included from tests/CMakeLists.txt in the
# plain (unsanitized) builds.
add_test(NAME install_consumers
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/install_test.sh ${PROJECT_SOURCE_DIR}
    ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR})
add_test(NAME deb_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/deb_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION})

# examples/threads_host.c: two documents parsed on two threads at once. Built
# as strict C11 with POSIX threads, as a host outside this project would be.
find_package(Threads REQUIRED)
add_executable(threads_host ${PROJECT_SOURCE_DIR}/examples/threads_host.c)
target_link_libraries(threads_host PRIVATE subparse Threads::Threads)
set_target_properties(threads_host PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(threads_host PRIVATE -Wpedantic)
add_test(NAME threads_host
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/threads_host_test.sh ${PROJECT_SOURCE_DIR}
    $<TARGET_FILE:threads_host> $<TARGET_FILE:subparse_cli>)

# Every shell command of README.md, run in a fresh copy of the source tree.
add_test(NAME readme
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/readme_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(readme PROPERTIES TIMEOUT 1200)
