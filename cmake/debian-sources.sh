#!/bin/bash
# Fetches Debian's source packages of the third-party libraries the library is built
# with (libjpeg-turbo, libyuv) into build/third-party/sources, once. CMake unpacks and
# builds them from there (cmake/PictorThirdParty.cmake). Runs as root from `make setup`.
#
# apt-get source needs deb-src entries. When the machine has none, one is added for the
# same Debian mirrors and suites as its deb entries, in a file of its own.
set -euo pipefail

packages=(libjpeg-turbo libyuv)
dest=${1:-build/third-party/sources}
list=/etc/apt/sources.list.d/pictor-deb-src.sources

have_all() {
  for p in "${packages[@]}"; do
    compgen -G "$dest/${p}_*.dsc" >/dev/null || return 1
  done
}
have_all && exit 0

# deb-src entries: copy every enabled deb822 stanza of type deb as deb-src, and every
# one-line deb entry as deb-src.
has_deb_src() {
  grep -qsE '^\s*Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
    grep -qsE '^\s*deb-src\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}
if ! has_deb_src; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: run as root to add Debian source entries" >&2
    exit 1
  fi
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] && [ "$f" != "$list" ] || continue
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Types:[^\n]*deb/ && !/(^|\n)Enabled: *no/ {
             sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^\s*deb\s\+\(\[[^]]*\]\s\+\)\?\(\S\+\)\s\+\(\S\+\)\s\+\(.*\)$/Types: deb-src\nURIs: \2\nSuites: \3\nComponents: \4\n/p' \
        /etc/apt/sources.list
    fi
  } >"$list.new"
  mv "$list.new" "$list"
  echo "setup: added Debian source entries for the machine's own mirrors and suites in $list"
  apt-get update -qq
fi

mkdir -p "$dest"
fetch() { (cd "$dest" && apt-get source --download-only -qq -o APT::Sandbox::User=root "${packages[@]}"); }
# Source lists that were never downloaded (or were cleaned) need an update first.
fetch || { apt-get update -qq && fetch; }
have_all
