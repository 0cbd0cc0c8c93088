#!/usr/bin/env bash
# Runs Debian's nginx in the foreground on a loopback port with the sample
# site configuration (release-site.conf beside this script), its five
# publisher's lines replaced:
#
#   serve-local.sh ROOT PORT CERT KEY STATE
#
# ROOT is the published folder, CERT and KEY the server's certificate and
# key (release_server.py certs makes them), STATE a folder for the
# generated configuration, logs (access.log, error.log) and nginx's
# temporary files. Stops on SIGTERM or SIGQUIT. Started as root, nginx
# serves from unprivileged worker processes (user nobody), which need to
# be able to read ROOT.
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 ROOT PORT CERT KEY STATE" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
absolute() { (cd "$(dirname "$1")" && printf '%s/%s' "$(pwd)" "$(basename "$1")"); }
root=$(absolute "$1") port=$2 cert=$(absolute "$3") key=$(absolute "$4")
mkdir -p "$5/tmp"
state=$(cd "$5" && pwd)

site="$state/release-site.conf"
sed -E \
  -e "s|^( *)listen 443 ssl;.*|\\1listen 127.0.0.1:$port ssl;|" \
  -e "s|^( *)server_name .*|\\1server_name localhost;|" \
  -e "s|^( *)ssl_certificate /.*|\\1ssl_certificate $cert;|" \
  -e "s|^( *)ssl_certificate_key /.*|\\1ssl_certificate_key $key;|" \
  -e "s|^( *)root /.*|\\1root $root;|" \
  "$here/release-site.conf" >"$site"
# Each of the five lines must have been found: a sample edited out of
# shape would otherwise be served with its placeholders.
for line in "listen 127.0.0.1:$port ssl;" "server_name localhost;" "ssl_certificate $cert;" \
            "ssl_certificate_key $key;" "root $root;"; do
  if ! grep -qF -- "$line" "$site"; then
    echo "serve-local.sh: release-site.conf has no line to become \"$line\"" >&2
    exit 1
  fi
done

cat >"$state/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 64; }
http {
    access_log $state/access.log;
    client_body_temp_path $state/tmp/body;
    proxy_temp_path $state/tmp/proxy;
    fastcgi_temp_path $state/tmp/fastcgi;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    sendfile on;
    include $site;
}
CONF
exec nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log"
