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

# libass-dev and libavformat-dev let the peer readers test read the writers'
# texts with libass and libavformat's demuxers (it skips without them);
# libass and a CJK font (fonts-wqy-zenhei) let the danmaku render test draw
# Chinese comments; the python3-* packages build, install and test the
# Python package without a package index.
pkgs=(g++ clang-14 libclang-rt-14-dev cmake ninja-build pkg-config
      googletest libgtest-dev libbenchmark-dev libuchardet-dev binutils python3
      dpkg-dev groff-base libass-dev libavformat-dev fonts-wqy-zenhei
      python3-dev python3-venv python3-setuptools python3-wheel python3-build python3-pytest)
missing=()
updated=0
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  need_root
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  updated=1
  log=$(mktemp)
  apt-get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1 ||
    { cat "$log" >&2; rm -f "$log"; echo "setup: could not install: ${missing[*]}" >&2; exit 1; }
  rm -f "$log"
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
chmod -R 755 "$tmp"  # apt reads and downloads as the unprivileged _apt user
if id _apt >/dev/null 2>&1; then chown _apt "$tmp/debs"; fi
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
# The temporary source serves the download only. apt-get installs the files
# (dpkg -i would not look at their dependencies) and takes whatever they
# depend on from this machine's own suite, never from unstable: when a later
# yyjson in unstable needs more than Debian 12 has, this stops here with
# apt-get's account of what is missing, and leaves no half-installed package.
if [ "$updated" -eq 0 ]; then apt-get update -qq; fi  # this machine's own lists
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
     "$tmp"/debs/*.deb >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "setup: libyyjson-dev $dev_ver from unstable cannot be installed on this system" \
       "(apt-get's reasons above)" >&2
  exit 1
fi
pkg-config --atleast-version=0.12 yyjson
echo "setup: installed yyjson $(pkg-config --modversion yyjson)"
