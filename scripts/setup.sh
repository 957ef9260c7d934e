#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine needs to build and test subparse.
# Idempotent: on a machine that has everything it only checks and returns.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (or install the packages listed in $0 yourself)" >&2
    exit 1
  fi
}

pkgs=(g++ clang-14 libclang-rt-14-dev cmake ninja-build pkg-config
      googletest libgtest-dev libbenchmark-dev binutils python3
      dpkg-dev groff-base)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  need_root
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# yyjson >= 0.12: Debian 12 lacks it, so take libyyjson-dev and its runtime
# package from the unstable suite of the archive this machine already uses,
# without touching the machine's own apt sources.
if pkg-config --atleast-version=0.12 yyjson 2>/dev/null; then
  exit 0
fi
need_root

archive_uri() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f")
    [ -n "$uri" ] && { echo "$uri"; return; }
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) { print $i; exit } } }' "$f")
    [ -n "$uri" ] && { echo "$uri"; return; }
  done
}

uri=$(archive_uri)
if [ -z "$uri" ]; then
  echo "setup: no Debian archive found in /etc/apt/sources.list*" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/lists/partial" "$tmp/debs"
chmod -R 755 "$tmp"  # apt downloads as the unprivileged _apt user
echo "deb $uri unstable main" >"$tmp/unstable.list"
apt_opts=(-o "Dir::Etc::SourceList=$tmp/unstable.list" -o Dir::Etc::SourceParts=/dev/null
          -o "Dir::State::Lists=$tmp/lists")
apt-get "${apt_opts[@]}" update -qq
dev_ver=$(apt-cache "${apt_opts[@]}" show libyyjson-dev | awk '/^Version:/ { print $2; exit }')
runtime=$(apt-cache "${apt_opts[@]}" show libyyjson-dev | awk -F': ' '/^Depends:/ { print $2; exit }' |
          tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep '^libyyjson' | head -n 1)
if ! dpkg --compare-versions "${dev_ver%%-*}" ge 0.12; then
  echo "setup: unstable offers libyyjson-dev $dev_ver, older than 0.12" >&2
  exit 1
fi
(cd "$tmp/debs" && apt-get "${apt_opts[@]}" download libyyjson-dev "${runtime:-libyyjson0}" >/dev/null)
dpkg -i "$tmp"/debs/*.deb >/dev/null
pkg-config --atleast-version=0.12 yyjson
echo "setup: installed yyjson $(pkg-config --modversion yyjson)"
