# The proof of the danmaku layout with a real renderer: danmaku_render_test
# writes danmaku documents as ASS, renders them with libass every 100 ms and
# checks every frame (no two comments on top of each other, each shows while
# it is active, scrolls its way, in its colour); render_frame draws one frame
# of an ASS file into a PNG (scripts/render_frame.sh). Both need libass
# (Debian: libass-dev) and, to draw Chinese text, a CJK font
# (fonts-wqy-zenhei); render_frame also needs zlib.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SUBPARSE_LIBASS IMPORTED_TARGET libass)
if(SUBPARSE_LIBASS_FOUND)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(danmaku_render_test ${CMAKE_CURRENT_LIST_DIR}/danmaku_render.cpp)
  target_link_libraries(danmaku_render_test PRIVATE
    subparse_test_support GTest::gtest_main PkgConfig::SUBPARSE_LIBASS)
  target_compile_definitions(danmaku_render_test PRIVATE
    SUBPARSE_RENDER_GOLDEN_DIR="${CMAKE_CURRENT_LIST_DIR}/golden")
  # g++ 12 at -O3 warns wrongly about std::string concatenations.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(danmaku_render_test PRIVATE -Wno-restrict)
  endif()
  if(SUBPARSE_SANITIZE)
    # libass is not instrumented but the checks are: the sanitizer builds
    # prove the three smallest corpus files of each format and one file
    # with the renderer's widths.
    target_compile_definitions(danmaku_render_test PRIVATE SUBPARSE_RENDER_SANITIZED=1)
  endif()
  gtest_discover_tests(danmaku_render_test DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT
      "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")

  find_package(ZLIB)
  if(ZLIB_FOUND)
    add_executable(render_frame ${CMAKE_CURRENT_LIST_DIR}/render_frame.cpp)
    target_link_libraries(render_frame PRIVATE PkgConfig::SUBPARSE_LIBASS ZLIB::ZLIB)
    # Next to the subparse program, where scripts/render_frame.sh looks.
    set_target_properties(render_frame PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  else()
    message(STATUS "render_frame skipped: zlib not found")
  endif()
else()
  message(STATUS "danmaku_render_test and render_frame skipped: pkg-config finds no libass "
    "(Debian: libass-dev)")
endif()
