# Sourced by test.sh and run.sh: a throw-away Wine prefix that trusts the
# bundled release server's test authority, a virtual display when there is
# none, and the release server itself on loopback.
#
# TESTBED_DIR (default build/testbed) holds it all. After testbed_up: WINEPREFIX, DISPLAY, OQ_TEST_BASE_URL, OQ_TEST_WWW and
# OQ_ARTIFACTS are exported. testbed_down undoes all of it.

testbed_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${OQ_SERVER_PORT:=8443}"   # the port the program's built-in address names
: "${TESTBED_DIR:=$testbed_root/build/testbed}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$TESTBED_DIR/prefix"
export OQ_TEST_WWW="$TESTBED_DIR/www"
export OQ_TEST_BASE_URL="https://localhost:$OQ_SERVER_PORT/"
export OQ_ARTIFACTS="$TESTBED_DIR/artifacts"
testbed_state="$TESTBED_DIR/server"
testbed_xvfb_pid=
testbed_server_pid=

# testbed_up [keep]: with "keep", an existing prefix (and so what was
# installed into it) is used again; otherwise every run starts afresh.
testbed_up() {
  [ "${1:-}" = keep ] || rm -rf "$WINEPREFIX" "$OQ_ARTIFACTS"
  rm -rf "$OQ_TEST_WWW"
  mkdir -p "$(dirname "$WINEPREFIX")" "$OQ_TEST_WWW" "$testbed_state" "$OQ_ARTIFACTS"

  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in 97 98 99 96 95; do [ -e "/tmp/.X11-unix/X$n" ] || break; done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    testbed_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi

  python3 "$testbed_root/tools/release_server.py" certs --state "$testbed_state" >/dev/null
  bash "$testbed_root/scripts/wine-prefix.sh" "$WINEPREFIX" "$testbed_state/ca.der" \
    "$testbed_root/build/wine/bin/trust_ca.exe"

  python3 "$testbed_root/tools/release_server.py" publish --root "$OQ_TEST_WWW" --version 1.7.18 >/dev/null
  python3 "$testbed_root/tools/release_server.py" serve --root "$OQ_TEST_WWW" \
    --port "$OQ_SERVER_PORT" --state "$testbed_state" 2>"$OQ_ARTIFACTS/release-server.log" &
  testbed_server_pid=$!
  python3 "$testbed_root/tools/release_server.py" wait --port "$OQ_SERVER_PORT" --timeout 20
}

testbed_down() {
  [ -n "$testbed_server_pid" ] && kill "$testbed_server_pid" 2>/dev/null && wait "$testbed_server_pid" 2>/dev/null
  testbed_server_pid=
  wineserver -k 2>/dev/null || true
  [ -n "$testbed_xvfb_pid" ] && kill "$testbed_xvfb_pid" 2>/dev/null && wait "$testbed_xvfb_pid" 2>/dev/null
  testbed_xvfb_pid=
  return 0
}
