# Sourced by test.sh and run.sh: a throw-away Wine prefix that trusts the
# bundled release server's test authority, a virtual display when there is
# none, and the release server itself on loopback.
#
# TESTBED_DIR (default build/testbed) holds it all. After testbed_up: WINEPREFIX, DISPLAY, OQ_TEST_BASE_URL, OQ_TEST_WWW and
# OQ_ARTIFACTS are exported, and OQ_TEST_PROXY_PORT, OQ_TEST_PROXY_AUTH_PORT
# and OQ_TEST_PROXY_LOG for the test proxy (tools/test_proxy.py). testbed_down undoes all of it.
#
# OQ_TEST_RELEASES holds, in one folder each, the files that turn the served
# release into another one for the end-to-end cases: "good" (the release as
# served), "1.7.19" (the same packages as a release of that version),
# "other-key" and "second-key" (signed by a key the program does not know,
# and by the two-key build's second key), "version" (a version the version
# file does not name), "expired", "bad-hash" (a package differing in one
# byte), "longer" (a package longer than declared), and two 1.7.19 releases
# whose library cannot replace a working one: "wrong-bits" (the 32-bit
# library in the 64-bit package) and "failing-registration" (a library
# whose DllRegisterServer fails); "installer-next" (the served release
# offering the later two-key build as the installer) and
# "installer-tampered" (that installer one byte off).
#
# The stand-ins for Excel and the add-in library (tests/standins) are taken
# from OQ_STANDINS64_DIR (default build/wine/bin) and OQ_STANDINS32_DIR
# (default build/wine32/bin). Those that exist are exported as Unix paths
# in OQ_STANDIN_EXCEL64, OQ_STANDIN_EXCEL32 and OQ_STANDIN_ADDIN64; with
# both libraries the release is published as real packages whose version is
# the 64-bit library's own, otherwise as a bare version file.
#
# The release is signed with OQ_RELEASE_KEY (default the development key
# build/devkeys/release-key.pem that scripts/build.sh makes on first use; the
# default build trusts its public key). testbed_serve_nginx swaps the release server for nginx with
# the sample site configuration (tools/nginx) on the same port and folder.

testbed_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${OQ_SERVER_PORT:=8443}"   # the port the program's built-in address names
: "${TESTBED_DIR:=$testbed_root/build/testbed}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$TESTBED_DIR/prefix"
export OQ_TEST_WWW="$TESTBED_DIR/www"
export OQ_TEST_BASE_URL="https://localhost:$OQ_SERVER_PORT/"
export OQ_ARTIFACTS="$TESTBED_DIR/artifacts"
export OQ_TEST_RELEASES="$TESTBED_DIR/releases"
: "${OQ_RELEASE_KEY:=$testbed_root/build/devkeys/release-key.pem}"
: "${OQ_STANDINS64_DIR:=$testbed_root/build/wine/bin}"
: "${OQ_STANDINS32_DIR:=$testbed_root/build/wine32/bin}"
testbed_export_standin() {  # variable, file
  if [ -f "$2" ]; then export "$1=$2"; else unset "$1"; fi
}
testbed_state="$TESTBED_DIR/server"
# A Unix path as Wine names it (its Z: drive is the Unix root).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# testbed_release_variants PUBLISH-ARGS...: the variants of the served release
# (see above), each published by the release server's own publish from the
# same libraries, or copied from the folder served and then spoiled.
testbed_release_variants() {
  local served=$OQ_TEST_WWW/files/publish out=$OQ_TEST_RELEASES version v tmp
  local tool=$testbed_root/tools/release_server.py other=$testbed_state/other-key.pem
  version=$(tail -c +4 "$served/xlllibver.txt")
  rm -rf "$out"
  mkdir -p "$out"
  [ -f "$other" ] || python3 "$tool" keygen --private "$other" --public "${other%.pem}.pub.pem" >/dev/null
  variant() {  # name, publish arguments after the served release's own
    local name=$1
    shift
    tmp=$(mktemp -d)
    python3 "$tool" publish --root "$tmp" "${release[@]}" "$@" >/dev/null
    mkdir -p "$out/$name"
    cp "$tmp"/files/publish/* "$out/$name/"
    rm -rf "$tmp"
  }
  local release=("$@")
  variant other-key --version "$version" --key "$other"
  if [ -f "$testbed_root/build/devkeys/release-key2.pem" ]; then
    variant second-key --version "$version" --key "$testbed_root/build/devkeys/release-key2.pem"
  fi
  variant version --version "$version.1" --key "$OQ_RELEASE_KEY"
  variant 1.7.19 --version 1.7.19 --key "$OQ_RELEASE_KEY"
  variant expired --version "$version" --key "$OQ_RELEASE_KEY" --expires 2020-01-31 2>/dev/null
  # Newer releases whose library cannot replace the working one: the 32-bit
  # library in the 64-bit package, and a library whose registration fails.
  if [ -f "$OQ_STANDINS32_DIR/oq_addin.dll" ]; then
    variant wrong-bits --version 1.7.19 --key "$OQ_RELEASE_KEY" --addin64 "$OQ_STANDINS32_DIR/oq_addin.dll"
  fi
  # The same release offering a later installer (the two-key build), and
  # that installer spoiled in one byte.
  local next=$testbed_root/build/win32-twokeys/bin/ORBITQuarrySetup.exe
  if [ -f "$next" ]; then
    variant installer-next --version "$version" --key "$OQ_RELEASE_KEY" --installer "$next"
    mkdir -p "$out/installer-tampered"
    cp "$out/installer-next"/* "$out/installer-tampered/"
    python3 - "$out/installer-tampered/ORBITQuarrySetup.exe" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) // 2] ^= 0x01
open(path, "wb").write(bytes(data))
PY
  fi
  if [ -f "$OQ_STANDINS64_DIR/oq_addin_failing.dll" ] && [ -f "$OQ_STANDINS32_DIR/oq_addin_failing.dll" ]; then
    variant failing-registration --version 1.7.19 --key "$OQ_RELEASE_KEY" \
      --addin64 "$OQ_STANDINS64_DIR/oq_addin_failing.dll" --addin32 "$OQ_STANDINS32_DIR/oq_addin_failing.dll"
  fi
  for v in good bad-hash longer; do
    mkdir -p "$out/$v"
    cp "$served"/* "$out/$v/"
  done
  # Same size, one byte different.
  python3 - "$out/bad-hash/ORBITQuarry64n.zip" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[len(data) // 2] ^= 0x01
open(path, "wb").write(bytes(data))
PY
  head -c 100000 /dev/zero >>"$out/longer/ORBITQuarry64n.zip"
  # The variants replace these files only; the version file stays the test's.
  rm -f "$out"/*/xlllibver.txt
}
testbed_xvfb_pid=
testbed_server_pid=
testbed_proxy_pid=

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

  testbed_export_standin OQ_STANDIN_EXCEL64 "$OQ_STANDINS64_DIR/excel.exe"
  testbed_export_standin OQ_STANDIN_EXCEL32 "$OQ_STANDINS32_DIR/excel.exe"
  testbed_export_standin OQ_STANDIN_ADDIN64 "$OQ_STANDINS64_DIR/oq_addin.dll"
  testbed_export_standin OQ_STANDIN_ADDIN32 "$OQ_STANDINS32_DIR/oq_addin.dll"
  local release=(--version 1.7.18)
  if [ -f "$OQ_STANDINS64_DIR/oq_addin.dll" ] && [ -f "$OQ_STANDINS32_DIR/oq_addin.dll" ]; then
    release=(--addin32 "$OQ_STANDINS32_DIR/oq_addin.dll" --addin64 "$OQ_STANDINS64_DIR/oq_addin.dll")
  fi
  python3 "$testbed_root/tools/release_server.py" publish --root "$OQ_TEST_WWW" "${release[@]}" \
    --key "$OQ_RELEASE_KEY" >/dev/null
  testbed_release_variants "${release[@]}"
  python3 "$testbed_root/tools/release_server.py" serve --root "$OQ_TEST_WWW" \
    --port "$OQ_SERVER_PORT" --state "$testbed_state" 2>"$OQ_ARTIFACTS/release-server.log" &
  testbed_server_pid=$!
  python3 "$testbed_root/tools/release_server.py" wait --port "$OQ_SERVER_PORT" --timeout 20

  # A company proxy on loopback, for the cases that set one in the user's
  # Internet Options; its log lists the tunnels it made.
  export OQ_TEST_PROXY_PORT=$((OQ_SERVER_PORT + 1000)) OQ_TEST_PROXY_AUTH_PORT=$((OQ_SERVER_PORT + 2000))
  export OQ_TEST_PROXY_LOG="$OQ_ARTIFACTS/proxy.log"
  python3 "$testbed_root/tools/test_proxy.py" --port "$OQ_TEST_PROXY_PORT" --auth-port "$OQ_TEST_PROXY_AUTH_PORT" \
    --log "$OQ_TEST_PROXY_LOG" 2>>"$OQ_ARTIFACTS/proxy.err" &
  testbed_proxy_pid=$!
  python3 "$testbed_root/tools/release_server.py" wait --port "$OQ_TEST_PROXY_PORT" --timeout 20
}

# testbed_app_path BITS FOLDER: Excel's application path as an Office setup
# of that bitness writes it, into the registry view of its own bitness
# (wine's own reg tool is 32-bit and would write the 32-bit view).
testbed_app_path() {
  local reg esc
  reg=$(mktemp --suffix=.reg)
  esc=${2//\\/\\\\}
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe]\r\n@="%sexcel.exe"\r\n"Path"="%s"\r\n' "$esc" "$esc" |
    iconv -f utf-8 -t utf-16 >"$reg"
  wine reg import "$(winpath "$reg")" "/reg:$1" >/dev/null 2>&1
  rm -f "$reg"
}

# The same folder on the same port, served by nginx as a publisher would
# host it: its access log is exported as OQ_NGINX_ACCESS_LOG, and
# OQ_TEST_HOST=nginx tells the tests that need it.
testbed_serve_nginx() {
  [ -n "$testbed_server_pid" ] && kill "$testbed_server_pid" 2>/dev/null && wait "$testbed_server_pid" 2>/dev/null
  testbed_server_pid=
  rm -rf "$TESTBED_DIR/nginx"
  bash "$testbed_root/tools/nginx/serve-local.sh" "$OQ_TEST_WWW" "$OQ_SERVER_PORT" \
    "$testbed_state/server.pem" "$testbed_state/server.key" "$TESTBED_DIR/nginx" &
  testbed_server_pid=$!
  export OQ_TEST_HOST=nginx OQ_NGINX_ACCESS_LOG="$TESTBED_DIR/nginx/access.log"
  python3 "$testbed_root/tools/release_server.py" wait --port "$OQ_SERVER_PORT" --timeout 20
}

testbed_down() {
  [ -n "$testbed_server_pid" ] && kill "$testbed_server_pid" 2>/dev/null && wait "$testbed_server_pid" 2>/dev/null
  testbed_server_pid=
  [ -n "$testbed_proxy_pid" ] && kill "$testbed_proxy_pid" 2>/dev/null && wait "$testbed_proxy_pid" 2>/dev/null
  testbed_proxy_pid=
  unset OQ_TEST_HOST OQ_NGINX_ACCESS_LOG
  wineserver -k 2>/dev/null || true
  [ -n "$testbed_xvfb_pid" ] && kill "$testbed_xvfb_pid" 2>/dev/null && wait "$testbed_xvfb_pid" 2>/dev/null
  testbed_xvfb_pid=
  return 0
}
