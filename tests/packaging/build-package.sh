#!/usr/bin/env bash
# build-package.sh BUILD-DIR OUT-DIR: builds the Debian package of BUILD-DIR into OUT-DIR
# (what `make package` does, in a folder of its own) and names it in OUT-DIR/deb.
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; exit 1; }
debs=("$out"/pavrel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no single pavrel_*.deb" >&2; exit 1; }
echo "${debs[0]}" >"$out/deb"
dpkg-deb --info "${debs[0]}"
