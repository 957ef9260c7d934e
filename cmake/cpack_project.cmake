# Read by cpack when it runs: a Debian package belongs under /usr.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(WARNING "this package installs under ${CPACK_PACKAGING_INSTALL_PREFIX}; "
                  "configure with -DCMAKE_INSTALL_PREFIX=/usr for a system package")
endif()
