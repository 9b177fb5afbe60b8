#!/usr/bin/env bash
# Builds the Debian package and installs the project into a temporary prefix, checks what
# both hold, then records through the global hotkeys with the program of each tree.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION CMAKE CPACK
set -euo pipefail
build=$1 source=$2 version=$3 cmake=$4 cpack=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/tonvale-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# run NAME COMMAND...: runs the command with its output in $work/NAME.log, shown if it fails.
run() { local log="$work/$1.log"; shift; "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }; }

app_id=com.velmora.tonvale
# Everything the program loads or the desktop needs, relative to the prefix.
payload=(
  bin/sonarelrecorder
  lib/tonvale/libtonvalesink.so
  share/tonvale/help/{Introduction,hotkeys}.html
  share/applications/$app_id.desktop
  share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/{16x16,48x48,256x256}/apps/tonvale.png
  share/man/man1/sonarelrecorder.1.gz
  share/doc/tonvale/{copyright,changelog.gz}
)

run build "$cmake" --build "$build" --target sonarelrecorder tonvale_sink tonvale_help || exit 1

# --- the Debian package ---
(cd "$work" && run cpack "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B pkg) || exit 1
deb="$work/pkg/tonvale_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/pkg" >&2; echo "FAIL: no package named $(basename "$deb")" >&2; exit 1; }

contents=$(dpkg-deb --contents "$deb" | awk '{ print $NF }')
for file in "${payload[@]}"; do
  grep -qx "./usr/$file" <<<"$contents" || fail "the package lacks /usr/$file"
done
grep -E '_test$|_bench$|gtest|gmock|\.a$' <<<"$contents" && fail "the package carries test files"

[ "$(dpkg-deb --field "$deb" Package)" = tonvale ] || fail "the package is not named tonvale"
depends=$(dpkg-deb --field "$deb" Depends)
for dep in qt6-qpa-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-pulseaudio libpulse0 xdg-utils libqt6widgets6 libxcb1 libxcb-keysyms1; do
  grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

# Debian's checks: no error or warning (the binaries are stripped as packages ship them).
if ! command -v lintian >/dev/null; then
  fail "lintian is not installed (scripts/setup.sh installs it)"
else
  run lintian lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings"
fi

dpkg-deb --extract "$deb" "$work/unpacked"
zcat "$work/unpacked/usr/share/doc/tonvale/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -SVersion)" = "$version" ] ||
  fail "the changelog's latest entry is not for version $version"
program="$work/unpacked/usr/bin/sonarelrecorder"
[ "$("$program" --version)" = "sonarelrecorder (Tonvale) $version" ] ||
  fail "--version does not print version $version"
# The manual page describes every option --help lists.
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$work/unpacked/usr/share/man/man1/sonarelrecorder.1.gz") ||
  fail "man cannot show the manual page"
options=$("$program" --help | grep -E '^ +-' | grep -oE -- '--?[a-z][a-z-]*' || true)
[ -n "$options" ] || fail "--help lists no options"
for option in $options; do
  grep -qE -- "(^|[ ,])$option([ ,]|$)" <<<"$page" || fail "the manual page lacks $option"
done

# --- the installed tree ---
run install "$cmake" --install "$build" --prefix "$work/prefix" || exit 1
for file in "${payload[@]}"; do
  [ -s "$work/prefix/$file" ] || fail "cmake --install did not install $file"
done
readelf -d "$work/prefix/bin/sonarelrecorder" "$work/prefix/lib/tonvale/libtonvalesink.so" |
  grep -E 'R(UN)?PATH' | grep -F "$build" && fail "an installed binary searches the build tree"

appstreamcli validate --no-net "$work/prefix/share/metainfo/$app_id.metainfo.xml" ||
  fail "appstreamcli rejects the metainfo file"
desktop="$work/prefix/share/applications/$app_id.desktop"
! command -v desktop-file-validate >/dev/null || desktop-file-validate "$desktop" ||
  fail "desktop-file-validate rejects the desktop entry"
grep -qx 'Exec=sonarelrecorder' "$desktop" || fail "the desktop entry starts no sonarelrecorder"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$work/prefix/share/icons/hicolor/48x48/apps/$icon.png" ] ||
  fail "the desktop entry's icon $icon is not in the hicolor theme"
for size in 16 48 256; do
  geometry=$(identify -format '%wx%h' "$work/prefix/share/icons/hicolor/${size}x${size}/apps/tonvale.png")
  [ "$geometry" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $geometry"
done

# --- a recording with the program of each tree ---
within() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { exit !(a - b < t && b - a < t) }'; }
record() { # record NAME PROGRAM FREQUENCY
  local name=$1 program=$2 freq=$3 out="$work/demo-$1"
  if ! run "$name" bash "$source/scripts/demo.sh" --program "$program" --seconds 1 \
    --freq "$freq" --out "$out"; then
    cat "$out/program.log" >&2 || true
    fail "$name: the recording through the hotkeys failed"
    return
  fi
  # The Xing header's length, the decoded length and the pitch of what was recorded.
  local mp3="$out/demo.mp3" header decoded pitch span
  header=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$mp3")
  decoded=$(sox "$mp3" -n stat 2>&1 | awk '/^Length \(seconds\):/ { print $3 }')
  # The strongest bin of sox's spectrum of the channels mixed (bins of about 11 Hz).
  pitch=$(sox "$mp3" -n remix - stat -freq 2>&1 |
    awk 'NF == 2 && $1 + 0 == $1 && $2 > best { best = $2; f = $1 } END { printf "%.0f", f }')
  span=$(sed -n 's/.*the hotkeys were \([0-9.]*\) s apart.*/\1/p' "$work/$name.log")
  awk -v d="$decoded" -v s="$span" 'BEGIN { exit !(s >= 1 && d > s - 0.3 && d < s + 0.3) }' ||
    fail "$name: the MP3 lasts ${decoded}s, the hotkeys were ${span}s apart"
  within "$header" "$decoded" 0.1 ||
    fail "$name: the MP3 header says ${header}s but it decodes to ${decoded}s"
  within "$pitch" "$freq" 15 || fail "$name: the MP3's pitch is ${pitch} Hz, not $freq Hz"
  [ -s "$out/screenshot.png" ] || fail "$name: no screenshot was taken"
  # The close command saved the settings.
  grep -qx '\[HotKey\]' "$out/config/Velmora/sonarelrecorder.conf" ||
    fail "$name: closing did not write the HotKey settings"
}
record installed "$work/prefix/bin/sonarelrecorder" 660
record packaged "$work/unpacked/usr/bin/sonarelrecorder" 880

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "package $(basename "$deb") and the installed tree pass"
