#!/usr/bin/env bash
# Installs the build into a temporary prefix with `cmake --install --prefix`
# and builds two hosts against it: one through find_package(subparse), one
# through pkg-config. Usage: install_test.sh SOURCE_DIR BUILD_DIR VERSION LIBDIR
set -euo pipefail
src=$1 build=$2 version=$3 libdir=$4
. "$src/tests/package/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
check_tree "" "$prefix" "$libdir" "$version"
# The installed CLI finds the library beside it, without LD_LIBRARY_PATH.
[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/subparse" --version)" = "subparse $version" ] ||
  fail "the installed CLI does not run on its own"

check_cmake_consumer "$src" "$prefix" "$work/cmake-consumer" "$version"
# A machine with only yyjson's runtime package has neither its pkg-config file
# nor its CMake package; the shared object is enough.
check_cmake_consumer "$src" "$prefix" "$work/cmake-runtime-only" "$version" \
  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DCMAKE_DISABLE_FIND_PACKAGE_yyjson=ON
check_pkgconfig_consumer "$src" "$prefix/$libdir/pkgconfig" "$prefix/$libdir" "$work/pc-consumer" "$version"
echo "install test passed"
