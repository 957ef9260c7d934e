#!/usr/bin/env bash
# Builds the Debian package from a fresh build tree configured for /usr, checks
# its control fields, unpacks it into a temporary root with dpkg -x, checks its
# contents and builds the CMake and pkg-config hosts against that root.
# Usage: deb_test.sh SOURCE_DIR VERSION
set -euo pipefail
src=$1 version=$2
. "$src/tests/package/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DSUBPARSE_TESTS=OFF >"$work/build.log" 2>&1 &&
  cmake --build "$work/build" >>"$work/build.log" 2>&1 &&
  (cd "$work/build" && cpack -G DEB -B "$work/out") >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; fail "the package did not build"; }
deb=$(ls "$work"/out/subparse_"$version"_*.deb) || fail "no .deb named subparse_${version}_ARCH.deb"
arch=$(dpkg --print-architecture)
[ "$(dpkg-deb -f "$deb" Package)" = subparse ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong package version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "wrong architecture"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in "libyyjson0 (>= 0.12)" libuchardet0; do
  case ", $depends," in
    *", $dep,"*) ;;
    *) fail "Depends lacks $dep: $depends" ;;
  esac
done

dpkg-deb -I "$deb" shlibs | grep -q "^libsubparse 0 subparse (>= $version)\$" ||
  fail "no shlibs entry for libsubparse.so.0"

root=$work/root
dpkg -x "$deb" "$root"
libdir=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
check_tree "$root" /usr "$libdir" "$version"
# Nothing outside /usr, and no search path baked into a system binary.
[ "$(ls "$root")" = usr ] || fail "the package installs outside /usr: $(ls "$root")"
if readelf -d "$root/usr/bin/subparse" | grep -q -E 'RPATH|RUNPATH'; then
  fail "the packaged CLI carries a library search path"
fi
[ "$(LD_LIBRARY_PATH=$root/usr/$libdir "$root/usr/bin/subparse" --version)" = "subparse $version" ] ||
  fail "the packaged CLI does not run"

# The CMake package is relocatable: found under the unpacked root it points
# at the files there.
check_cmake_consumer "$src" "$root/usr" "$work/cmake-consumer" "$version"
# pkg-config's prefix is the real /usr; redirect it to the unpacked root.
sed "s|^prefix=/usr\$|prefix=$root/usr|" "$root/usr/$libdir/pkgconfig/subparse.pc" >"$work/subparse.pc"
check_pkgconfig_consumer "$src" "$work" "$root/usr/$libdir" "$work/pc-consumer" "$version"
echo "package test passed"
