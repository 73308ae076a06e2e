#!/usr/bin/env bash
# Installs the Debian packages the project needs; does nothing when all are there.
# Usage: install-deps.sh [extra-package ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/packages.txt")
wanted+=("$@")

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "error: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
apt_opts=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=600)
# A fresh machine has no package lists yet; refresh once when a package cannot be found.
if ! $sudo apt-get install "${apt_opts[@]}" "${missing[@]}"; then
  $sudo apt-get update -q -o DPkg::Lock::Timeout=600
  $sudo apt-get install "${apt_opts[@]}" "${missing[@]}"
fi
