#!/usr/bin/env bash
# Starts the printer application on 127.0.0.1:PORT with its state in STATE_DIR, adds the
# printer "Tessary" whose device is the file OUTPUT (the driver's stream is appended to it),
# and prints the printer's IPP URI. Options after OUTPUT go to the server (`-o device-timeout=10`).
# The server goes on running in the background; its process number is in STATE_DIR/server.pid
# and its log in STATE_DIR/server.log. To stop it:
#
#   SNAP_COMMON=STATE_DIR build/release/printer-app/tessary-printer-app shutdown
#
# TESSARY_PRINTER_APP names the application to run; without it the script builds it (as the
# main job does) in build/release.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 PORT STATE_DIR OUTPUT [SERVER OPTION...]" >&2
  exit 2
fi
port=$1
state_arg=$2
output_arg=$3
shift 3  # what is left goes to the server as it is: -o device-timeout=10, say
case "$port" in
  ''|*[!0-9]*) echo "printer-app: PORT must be a number, not \"$port\"" >&2; exit 2 ;;
esac

top="$(cd "$(dirname "$0")/.." && pwd)"
app=${TESSARY_PRINTER_APP:-}
if [ -z "$app" ]; then
  bash "$top/scripts/setup.sh"
  build="$top/build/release"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target tessary-printer-app >/dev/null
  app="$build/printer-app/tessary-printer-app"
fi

# The state folder holds the control socket (whoever reaches it administers the server) and
# the administration password: a new one is its owner's alone.
if [ ! -d "$state_arg" ]; then
  mkdir -p "$(dirname "$state_arg")"
  mkdir -m 700 "$state_arg"
fi
state="$(cd "$state_arg" && pwd)"
touch "$output_arg"  # the file device appends to the file
output="$(cd "$(dirname "$output_arg")" && pwd)/$(basename "$output_arg")"

# PAPPL keeps its state file and control socket in SNAP_COMMON; every sub-command that is to
# find this server needs the same.
export SNAP_COMMON="$state" TMPDIR="$state"
mkdir -p "$state/spool"

# A server of this folder that ended without stopping (killed, or the machine went down)
# leaves its control socket behind; one that still runs is not started twice.
if [ -f "$state/server.pid" ] && kill -0 "$(cat "$state/server.pid")" 2>/dev/null; then
  echo "printer-app: a server of $state runs already (process $(cat "$state/server.pid"))" >&2
  exit 1
fi
rm -f "$state/tessary-printer-app.sock"

# Plain IPP on loopback: nothing leaves the machine, and local clients then see a printer
# URI that matches what the printer says of its security.
"$app" server -o server-port="$port" -o listen-hostname=127.0.0.1 -o server-options=no-tls \
  -o spool-directory="$state/spool" -o log-file="$state/server.log" -o log-level=info "$@" \
  </dev/null >>"$state/server.out" 2>&1 &
pid=$!
echo "$pid" >"$state/server.pid"

# The control socket appears once the server listens.
for _ in $(seq 300); do
  [ -S "$state/tessary-printer-app.sock" ] && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "printer-app: the server did not start:" >&2
    cat "$state/server.out" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -S "$state/tessary-printer-app.sock" ]; then
  echo "printer-app: the server did not start within 30 seconds (see $state/server.log)" >&2
  kill "$pid" 2>/dev/null || true
  exit 1
fi

# The printer survives in the state of an earlier run; it then writes to this OUTPUT.
if "$app" printers 2>/dev/null | grep -qx Tessary; then
  "$app" modify -d Tessary -v "file://$output" >&2
else
  "$app" add -d Tessary -m tessary_color -v "file://$output" >&2
fi
echo "web interface: http://127.0.0.1:$port/ (administration password in" \
  "$state/admin-password)" >&2
echo "ipp://127.0.0.1:$port/ipp/print/Tessary"
