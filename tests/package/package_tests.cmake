# Tests of the installed tree and the Debian package, included from
# tests/CMakeLists.txt in the plain (unsanitized) builds.
add_test(NAME install_consumers
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/install_test.sh ${PROJECT_SOURCE_DIR}
    ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR})
add_test(NAME deb_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/deb_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION})
