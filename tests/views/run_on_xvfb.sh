#!/usr/bin/env bash
# Runs a command with DISPLAY on a private Xvfb server that ends with it. The
# server picks a free display itself (-displayfd), so runs side by side never
# race for a display number.
set -u
dir=$(mktemp -d) || exit 1
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
# The number is written once the server accepts clients; wait up to 30 s.
for _ in $(seq 300); do
  [ -s "$dir/display" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$dir/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$dir/log" >&2
  exit 1
fi
export DISPLAY=":$(tr -d '\n' <"$dir/display")"
"$@"
status=$?
exit $status
