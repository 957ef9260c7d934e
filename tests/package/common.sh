# Shared by the packaging tests: checks that an installed tree is complete
# and that hosts built against it parse the sample file.
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What print_cues (examples/consumer/main.c) prints for examples/sample.srt.
expected_cues() {
  printf '%s\n' "subparse $1, format srt, 2 cues" \
    "1000 --> 2500  first line | second line" \
    "3000 --> 4000  <i>Bonjour</i>, 世界!"
}

# check_tree ROOT PREFIX LIBDIR VERSION: the files every install holds, under
# ROOT (a staging directory or "") for the prefix PREFIX.
check_tree() {
  local root=$1 prefix=$2 libdir=$3 version=$4 f
  local major=${version%%.*}
  for f in "bin/subparse" "include/subparse.h" "share/man/man1/subparse.1.gz" \
           "$libdir/libsubparse.so.$version" "$libdir/pkgconfig/subparse.pc" \
           "$libdir/cmake/subparse/subparseConfig.cmake" \
           "$libdir/cmake/subparse/subparseConfigVersion.cmake" \
           "$libdir/cmake/subparse/subparseTargets.cmake" \
           "$libdir/cmake/subparse/subparse_find_yyjson.cmake"; do
    [ -f "$root$prefix/$f" ] || fail "missing $prefix/$f"
  done
  [ "$(readlink "$root$prefix/$libdir/libsubparse.so")" = "libsubparse.so.$major" ] ||
    fail "libsubparse.so does not point at the SONAME"
  [ "$(readlink "$root$prefix/$libdir/libsubparse.so.$major")" = "libsubparse.so.$version" ] ||
    fail "libsubparse.so.$major does not point at the library"
  readelf -d "$root$prefix/$libdir/libsubparse.so.$version" | grep -q "SONAME.*\[libsubparse.so.$major\]" ||
    fail "wrong SONAME"
  grep -q "^prefix=$prefix\$" "$root$prefix/$libdir/pkgconfig/subparse.pc" ||
    fail "subparse.pc does not name the prefix $prefix"
  grep -q "#define SUBPARSE_VERSION \"$version\"" "$root$prefix/include/subparse.h" ||
    fail "the installed header does not carry version $version"
  local warnings
  warnings=$(zcat "$root$prefix/share/man/man1/subparse.1.gz" | groff -man -ww -z 2>&1) ||
    fail "groff failed on the man page"
  [ -z "$warnings" ] || fail "the man page has groff warnings: $warnings"
}

# check_cmake_consumer SOURCE_DIR PREFIX_PATH WORK VERSION [CMAKE_ARGS...]:
# builds examples/consumer with find_package(subparse) and runs it.
check_cmake_consumer() {
  local src=$1 prefix_path=$2 work=$3 version=$4
  shift 4
  cmake -S "$src/examples/consumer" -B "$work" -DCMAKE_PREFIX_PATH="$prefix_path" "$@" >"$work.log" 2>&1 ||
    { cat "$work.log" >&2; fail "find_package(subparse) did not configure"; }
  cmake --build "$work" >>"$work.log" 2>&1 || { cat "$work.log" >&2; fail "the CMake consumer did not build"; }
  local out
  out=$("$work/print_cues" "$src/examples/sample.srt") || fail "the CMake consumer failed"
  [ "$out" = "$(expected_cues "$version")" ] || fail "the CMake consumer printed: $out"
}

# check_pkgconfig_consumer SOURCE_DIR PKG_CONFIG_DIR LIB_DIR WORK VERSION:
# builds examples/consumer/main.c with the flags pkg-config gives and runs it.
check_pkgconfig_consumer() {
  local src=$1 pcdir=$2 libdir=$3 work=$4 version=$5 flags out
  [ "$(PKG_CONFIG_PATH=$pcdir pkg-config --modversion subparse)" = "$version" ] ||
    fail "pkg-config reports another version"
  flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs subparse) || fail "pkg-config failed"
  # shellcheck disable=SC2086  # the flags are words
  cc -std=c99 -Wall -Wextra -Werror "$src/examples/consumer/main.c" $flags -o "$work" ||
    fail "the pkg-config consumer did not build"
  out=$(LD_LIBRARY_PATH=$libdir "$work" "$src/examples/sample.srt") || fail "the pkg-config consumer failed"
  [ "$out" = "$(expected_cues "$version")" ] || fail "the pkg-config consumer printed: $out"
}
