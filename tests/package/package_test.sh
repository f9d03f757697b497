#!/usr/bin/env bash
# The Debian package: made with cpack from the build folder into a scratch folder,
# unpacked with dpkg -x into a scratch root and checked there: its control fields
# and file list, the installed program (--version, and a start that finds the
# warning sound and the repair tool through the installed layout), lintian and
# the AppStream validator.
# Usage: package_test.sh BUILD_FOLDER SOURCE_FOLDER VERSION
set -uo pipefail
build=$1 source=$2 version=$3

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
. "$source/tests/support/program_sound.sh"
trap 'orvex_sound_cleanup; rm -rf "$work"' EXIT

echo "== cpack"
arch=$(dpkg --print-architecture)
deb="$work/out/orvexplayer_${version}_${arch}.deb"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
[ -f "$deb" ] || { echo "FAIL: no $(basename "$deb"): $(ls "$work/out")" >&2; exit 1; }
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

echo "== control"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = orvexplayer ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
# Named by hand (loaded or run by name), and found by dpkg-shlibdeps.
for package in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
  libaubio5 mp3val fonts-wqy-microhei qt6-qpa-plugins libc6 libqt6widgets6 libqt6svg6 libgstreamer1.0-0; do
  grep -Eq "(^|, )$package( \(|,|$)" <<<"$depends" || fail "Depends lacks $package"
done

echo "== files"
# Every path with its type; links with their targets.
dpkg-deb -c "$deb" | awk '{ type = substr($1, 1, 1); path = $6; sub(/^\.\//, "/", path);
  if (type == "d") next; line = type " " path; if (type == "l") line = line " -> " $8; print line }' |
  sort >"$work/list"
sort >"$work/expected" <<'EOF'
l /usr/bin/orvexplayer -> ../lib/orvexplayer/orvexplayer
- /usr/lib/orvexplayer/orvexplayer
l /usr/lib/orvexplayer/eg.mp3 -> ../../share/orvexplayer/eg.mp3
l /usr/lib/orvexplayer/chord.wav -> ../../share/orvexplayer/chord.wav
l /usr/lib/orvexplayer/mp3val -> ../../bin/mp3val
- /usr/share/orvexplayer/eg.mp3
- /usr/share/orvexplayer/chord.wav
- /usr/share/applications/orvexplayer.desktop
- /usr/share/icons/hicolor/scalable/apps/orvexplayer.svg
- /usr/share/icons/hicolor/16x16/apps/orvexplayer.svg
- /usr/share/metainfo/orvexplayer.metainfo.xml
- /usr/share/man/man1/orvexplayer.1.gz
- /usr/share/doc/orvexplayer/copyright
- /usr/share/doc/orvexplayer/changelog.gz
EOF
diff -u "$work/expected" "$work/list" || fail "the file list differs (- expected, + packaged)"

root="$work/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"
for name in eg.mp3 chord.wav; do
  cmp -s "$root/usr/lib/orvexplayer/$name" "$source/res/$name" ||
    fail "$name in the program folder is not the committed file"
done
grep -qx 'Exec=orvexplayer %f' "$root/usr/share/applications/orvexplayer.desktop" ||
  fail "the launcher does not pass the file"
# The full list of lesson types is checked against the program's rules by
# formats_rules_test; here the installed launcher must carry it.
grep -qx 'MimeType=audio/mpeg;audio/mp3;.*audio/mp4;.*video/webm;.*' \
  "$root/usr/share/applications/orvexplayer.desktop" ||
  fail "the launcher does not open MP3 and the other lesson files"
gzip -dc "$root/usr/share/man/man1/orvexplayer.1.gz" | grep -q '^\.TH ORVEXPLAYER 1 ' ||
  fail "no manual page orvexplayer(1)"

echo "== the installed program"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/orvexplayer" --version)
status=$?
echo "--version: '$out' (exit $status)"
[ "$status" -eq 0 ] || fail "--version exits $status"
[ "$out" = "OrvexPlayer $version" ] || fail "--version printed '$out'"

# Started through /usr/bin, the program looks in its own folder: with the repair
# tool in place (the package depends on it) the start-up checks pass, and a
# name that is no MP3 is answered with the warning sound from the program folder.
if [ -x /usr/bin/mp3val ]; then
  mkdir -p "$root/usr/bin" "$work/files"
  ln -s /usr/bin/mp3val "$root/usr/bin/mp3val"
  printf 'not a recording\n' >"$work/files/notes.txt"
  if orvex_sound_setup "$source/scripts"; then
    orvex_run_and_record --until-gone "$root/usr/bin/orvexplayer" "$work/files" notes.txt
    [ -n "$heard_stream" ] || fail "the installed program played no warning sound: $(cat "$work/app.log")"
    [ -n "$heard_stream" ] && { orvex_heard_warning_sound || fail "not the warning sound"; }
    [ "$running" -eq 1 ] || fail "the installed program ended: $(cat "$work/app.log")"
  else
    fail "no PulseAudio for the installed program"
  fi
else
  fail "mp3val is not installed (scripts/deps.sh lists it)"
fi

echo "== lintian"
# Newer lintian refuses to run as root without --allow-root; older ones lack the option.
lintian_options=(--fail-on error --display-info)
if [ "$(id -u)" -eq 0 ] && lintian --allow-root --print-version >/dev/null 2>&1; then
  lintian_options+=(--allow-root)
fi
lintian "${lintian_options[@]}" "$deb" >"$work/lintian" 2>"$work/lintian.err"
status=$?
cat "$work/lintian"
grep -v 'root privileges' "$work/lintian.err" >&2
[ "$status" -eq 0 ] || fail "lintian exits $status"
grep -q '^E:' "$work/lintian" && fail "lintian reports errors"

echo "== appstreamcli"
appstreamcli validate --no-net "$root/usr/share/metainfo/orvexplayer.metainfo.xml" \
  >"$work/appstream" 2>&1
cat "$work/appstream"
grep -q 'Validation' "$work/appstream" || fail "appstreamcli did not validate"
grep -Eq '^\s*E:|errors: [1-9]' "$work/appstream" && fail "appstreamcli reports errors"
# The same with the launcher and the icon beside it, as a software centre sees them.
appstreamcli validate-tree --no-net "$root" >"$work/appstream-tree" 2>&1
grep -Eq '^\s*E:|errors: [1-9]' "$work/appstream-tree" &&
  fail "appstreamcli validate-tree reports errors: $(cat "$work/appstream-tree")"
desktop-file-validate "$root/usr/share/applications/orvexplayer.desktop" ||
  fail "desktop-file-validate reports errors"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all passed"
