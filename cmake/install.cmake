# Installation and packaging: the shared library with its SONAME links, the
# header, a pkg-config file, a CMake package (subparse::subparse), the CLI and
# its man page; `cpack -G DEB` wraps the same tree as a Debian package.
include(CMakePackageConfigHelpers)

set(SUBPARSE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/subparse)

# An installed CLI outside the system's library directories finds the library
# beside it; a system install needs (and gets) no search path.
list(FIND CMAKE_C_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" subparse_libdir_is_system)
if(subparse_libdir_is_system EQUAL -1)
  file(RELATIVE_PATH subparse_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(subparse_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${subparse_bin_to_lib}")
endif()

install(TARGETS subparse EXPORT subparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${SUBPARSE_PUBLIC_INCLUDE}/subparse.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS subparse_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man page, dated by the version's build and compressed as Debian wants.
string(TIMESTAMP SUBPARSE_MAN_DATE "%Y-%m-%d" UTC)
configure_file(tools/subparse.1.in ${PROJECT_BINARY_DIR}/subparse.1 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/subparse.1.gz
  COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/subparse.1 > ${PROJECT_BINARY_DIR}/subparse.1.gz
  DEPENDS ${PROJECT_BINARY_DIR}/subparse.1 VERBATIM)
add_custom_target(subparse_man ALL DEPENDS ${PROJECT_BINARY_DIR}/subparse.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/subparse.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The pkg-config file names the prefix the tree is installed under, which
# `cmake --install --prefix` and packaging choose only at install time, so it
# is written then, straight to its place.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(subparse_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(subparse_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
install(CODE "
  set(SUBPARSE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(SUBPARSE_PC_LIBDIR [[${subparse_pc_LIBDIR}]])
  set(SUBPARSE_PC_INCLUDEDIR [[${subparse_pc_INCLUDEDIR}]])
  set(PROJECT_VERSION [[${PROJECT_VERSION}]])
  string(REPLACE [[\${prefix}]] \"\${CMAKE_INSTALL_PREFIX}\" subparse_pc
         [[${subparse_pc_LIBDIR}/pkgconfig/subparse.pc]])
  set(subparse_pc \"\$ENV{DESTDIR}\${subparse_pc}\")
  message(STATUS \"Installing: \${subparse_pc}\")
  configure_file([[${PROJECT_SOURCE_DIR}/cmake/subparse.pc.in]] \"\${subparse_pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${subparse_pc}\")")

install(EXPORT subparseTargets NAMESPACE subparse:: DESTINATION ${SUBPARSE_CMAKE_DIR})
configure_package_config_file(cmake/subparseConfig.cmake.in
  ${PROJECT_BINARY_DIR}/subparseConfig.cmake INSTALL_DESTINATION ${SUBPARSE_CMAKE_DIR})
# The SONAME carries the major version: every release with the same major
# version keeps the ABI.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/subparseConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/subparseConfig.cmake
  ${PROJECT_BINARY_DIR}/subparseConfigVersion.cmake cmake/subparse_find_yyjson.cmake
  DESTINATION ${SUBPARSE_CMAKE_DIR})

# One Debian package holds all of it. The install prefix is the package's, so
# configure with -DCMAKE_INSTALL_PREFIX=/usr for a system package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME subparse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "subparse developers <subparse@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "subtitle, lyrics and danmaku parsing library and CLI")
set(CPACK_PACKAGE_DESCRIPTION
  "subparse reads SRT, WebVTT, ASS/SSA, MicroDVD, SubViewer, TTML/DFXP, YouTube timed-text XML, LRC, SAMI, Bilibili danmaku XML and AcFun danmaku JSON into timed cues, through a plain C ABI. The package holds the shared library, its header, pkg-config and CMake files, and the subparse command.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Install with DESTDIR, so that files written at install time see the real
# prefix rather than the staging directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libyyjson0 (>= 0.12), libuchardet0")
# A shlibs file lets packages built against this one depend on it correctly.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
find_program(SUBPARSE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SUBPARSE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_project.cmake)
include(CPack)
