#!/usr/bin/env bash
# check-install.sh OUT-DIR MAKE-TEST-CLIP: installs the package build-package.sh made with apt,
# runs the installed programs, uninstalls it and checks that nothing is left behind.
# It changes the machine's packages, so it runs only as root where that is wanted (CI=true or
# PAVREL_TEST_SYSTEM_INSTALL=1); elsewhere it is skipped (exit 77).
set -euo pipefail
out=$1
make_clip=$2
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
[ "${CI:-}" = true ] || [ "${PAVREL_TEST_SYSTEM_INSTALL:-}" = 1 ] ||
  skip "set PAVREL_TEST_SYSTEM_INSTALL=1 (or CI=true) to let the test install and remove the package"
if dpkg-query -W -f='${db:Status-Status}' pavrel 2>/dev/null | grep -q installed; then
  skip "a pavrel package is already installed here; the test leaves it alone"
fi

deb=$(cat "$out/deb")
installed() { dpkg-query -W -f='${db:Status-Status} ${Package}\n' | sed -n 's/^installed //p' | sort; }
before=$(installed)
apt_opts=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=600)

# Whatever happens below, the machine ends with the packages it started with.
cleanup() {
  local added
  added=$(comm -13 <(echo "$before") <(installed) | tr '\n' ' ')
  if [ -n "$added" ]; then
    echo "removing: $added"
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get purge "${apt_opts[@]}" $added >/dev/null
  fi
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive apt-get install "${apt_opts[@]}" "$(realpath "$deb")"
mapfile -t files < <(dpkg -L pavrel)

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(command -v pavrel-track)" = /usr/bin/pavrel-track ] || fail "pavrel-track is not /usr/bin/pavrel-track"
version=$(/usr/bin/pavrel-track --version)
[[ $version =~ ^pavrel-track\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "pavrel-track --version says '$version'"
version=$(env -u DISPLAY /usr/bin/pavrel --version)
[[ $version =~ ^pavrel\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "pavrel --version says '$version'"

work=$(mktemp -d)
trap 'rm -rf "$work"; cleanup' EXIT
"$make_clip" "$work/clip.webm"
/usr/bin/pavrel-track --frames 20 "$work/clip.webm" >"$work/track.jsonl"
lines=$(grep -c '^{"frame":[0-9]*,"centre":\[' "$work/track.jsonl" || true)
[ "$lines" -eq 20 ] || fail "the installed pavrel-track tracked $lines of 20 frames: $(head -3 "$work/track.jsonl")"

[ "$(man -w pavrel-track)" = /usr/share/man/man1/pavrel-track.1.gz ] || fail "man pavrel-track finds no page"
[ "$(man -w pavrel)" = /usr/share/man/man1/pavrel.1.gz ] || fail "man pavrel finds no page"
desktop-file-validate /usr/share/applications/pavrel.desktop
grep -q '^Categories=.*Accessibility;' /usr/share/applications/pavrel.desktop || fail "not in Accessibility"
for f in /usr/share/icons/hicolor/32x32/apps/pavrel.png /usr/share/icons/hicolor/scalable/apps/pavrel.svg \
         /usr/share/metainfo/io.github.pavrel.Pavrel.metainfo.xml /usr/share/doc/pavrel/copyright; do
  [ -f "$f" ] || fail "not installed: $f"
done

# Every file the package brought must go with it, and so must its own documentation folder.
mapfile -t owned < <(for f in "${files[@]}"; do [ -d "$f" ] || echo "$f"; done)
owned+=(/usr/share/doc/pavrel)
DEBIAN_FRONTEND=noninteractive apt-get purge "${apt_opts[@]}" pavrel
status=$(dpkg-query -W -f='${db:Status-Status}' pavrel 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "dpkg still has pavrel as '$status'"
for f in "${owned[@]}"; do
  [ ! -e "$f" ] || fail "left behind: $f"
done
cleanup  # purges what apt added for the package
[ "$(installed)" = "$before" ] || fail "installed packages differ from before: $(diff <(echo "$before") <(installed))"
echo "installed, ran and removed $(basename "$deb"): ${#owned[@]} files gone"
