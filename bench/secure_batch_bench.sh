#!/usr/bin/env bash
# The batch over STARTTLS and a login beside the same batch in plain text: 200 files of 100 KiB
# mailed by mailcart-send to one local SMTP sink (bench/smtp_sink.py) that offers STARTTLS with a
# throw-away certificate (tests/e2e/make_certs.py) and requires AUTH, and to a second sink that
# speaks plain text. Messages per second and CPU seconds (user + system) of mailcart-send.
# Usage: bench/secure_batch_bench.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
readonly files=200 file_kib=100
readonly from=me@example.com to=you@example.com account=bench@example.com

ninja -C "$build" mailcart-send >/dev/null
work=$(mktemp -d)
sinks=()
cleanup() {
  for pid in "${sinks[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/python3 tests/e2e/make_certs.py "$work/certs" >/dev/null
(umask 077; head -c 24 /dev/urandom | base64 | tr -d '/+=' >"$work/password")
password=$(cat "$work/password")

# start_sink NAME ARGS...: starts a sink and sets port to where it listens.
start_sink() {
  local name=$1
  shift
  /usr/bin/python3 bench/smtp_sink.py --stats "$work/$name.stats" --max-seconds 3600 "$@" \
    </dev/null >"$work/$name.out" &
  sinks+=($!)
  for _ in $(seq 100); do grep -q '^PORT ' "$work/$name.out" && break; sleep 0.1; done
  port=$(awk '/^PORT /{print $2}' "$work/$name.out")
  [ -n "$port" ] || { echo "secure_batch_bench: the $name sink did not start" >&2; exit 1; }
}
start_sink plain
plain_port=$port
start_sink secure --tls-cert "$work/certs/good.pem" --tls-key "$work/certs/good.key" --auth "$account:$password"
secure_port=$port

mkdir "$work/files"
for i in $(seq -w 1 "$files"); do head -c $((file_kib * 1024)) /dev/urandom >"$work/files/file$i.bin"; done
batch=("$work"/files/*.bin)

delivered() { if [ -e "$work/$1.stats" ]; then awk '{print $1}' "$work/$1.stats"; else echo 0; fi; }

# measure NAME SINK ARGS...: mailcart-send with the shared options and ARGS, under /usr/bin/time.
measure() {
  local name=$1 sink=$2
  shift 2
  local before after elapsed user sys
  before=$(delivered "$sink")
  if ! /usr/bin/time -f "%e %U %S" -o "$work/time" "$build/app/mailcart-send" --settings "$work/none.ini" \
      --from "$from" --to "$to" --subject Batch --pause 0 "$@" "${batch[@]}" >/dev/null 2>"$work/errors"; then
    echo "secure_batch_bench: $name failed:" >&2
    cat "$work/errors" >&2
    exit 1
  fi
  after=$(delivered "$sink")
  read -r elapsed user sys <"$work/time"
  awk -v n="$name" -v m=$((after - before)) -v e="$elapsed" -v u="$user" -v s="$sys" 'BEGIN {
    printf "%-18s %4d messages %7.2f s %8.1f msg/s %7.2f CPU s\n", n, m, e, m / e, u + s }'
}

echo "== $files files of $file_kib KiB, pause 0, one connection per message"
measure "plain text" plain --server "127.0.0.1:$plain_port" --security none
measure "STARTTLS + AUTH" secure --server "localhost:$secure_port" --security starttls --user "$account" \
  --password-file "$work/password" --ca-file "$work/certs/ca.pem"
