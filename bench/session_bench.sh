#!/usr/bin/env bash
# One session for a batch, over a network delay: 200 files of 100 KiB, pause 0, through
# bench/delay_relay.py (0, 10 and 40 ms added round trip) to bench/smtp_sink.py, sent by
# mailcart-send with its kept, pipelined session, by mailcart-send --new-connection-per-message,
# and by a Python smtplib loop with a connection per message and with one connection. For each:
# seconds, messages per second, connections and round trips per message (counted by the relay).
# With "starttls" every session starts TLS (a throw-away certificate, pinned) and logs in; with
# "chunking" the sink offers CHUNKING, and the texts go in BDAT chunks.
# Usage: bench/session_bench.sh [BUILD_DIR] [plain|starttls|chunking] [RTT_MS...]
#        (defaults: build, plain, 0 10 40)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
mode=plain
case "${1:-}" in plain | starttls | chunking) mode=$1; shift ;; esac
rtts=("$@")
[ ${#rtts[@]} -gt 0 ] || rtts=(0 10 40)
readonly files=200 file_kib=100
readonly from=me@example.com to=you@example.com

ninja -C "$build" mailcart-send >/dev/null
. bench/servers.sh

security=(--security none)
login=()
tls=()
[ "$mode" = chunking ] && tls=(--chunking)
if [ "$mode" = starttls ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj /CN=localhost -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
  pin=$(openssl x509 -in "$work/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
  (umask 077 && echo bench-password >"$work/password")
  security=(--security starttls --user bench --password-file "$work/password" --fingerprint "$pin")
  login=(--login bench bench-password)
  tls=(--cert "$work/cert.pem" --key "$work/key.pem")
fi
start sink /usr/bin/python3 bench/smtp_sink.py --stats "$work/sink" --max-seconds 3600 "${tls[@]}"
sink_port=$port
make_batch "$files" "$file_kib"

field() { awk -v k="$2" '{print $k}' "$1" 2>/dev/null || echo 0; }

# measure NAME COMMAND... (PORT in the command is the relay's port)
measure() {
  local name=$1
  shift
  local before_m before_c before_r start end
  before_m=$(field "$work/sink" 1)
  before_c=$(field "$work/relay" 1)
  before_r=$(field "$work/relay" 2)
  start=$(date +%s.%N)
  if ! "$@" >/dev/null 2>"$work/errors"; then
    echo "session_bench: $name failed:" >&2
    cat "$work/errors" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  awk -v n="$name" -v s="$start" -v e="$end" -v m=$(($(field "$work/sink" 1) - before_m)) \
      -v c=$(($(field "$work/relay" 1) - before_c)) -v r=$(($(field "$work/relay" 2) - before_r)) 'BEGIN {
    printf "  %-34s %4d messages %7.2f s %7.1f msg/s %4d connections %5.1f round trips/message\n",
      n, m, e - s, m / (e - s), c, r / m }'
}

for rtt in "${rtts[@]}"; do
  start "relay$rtt" /usr/bin/python3 bench/delay_relay.py --target "127.0.0.1:$sink_port" \
    --rtt-ms "$rtt" --stats "$work/relay" --max-seconds 1800
  relay=$pid
  echo "== $files files of $file_kib KiB, pause 0, $rtt ms added round trip, $mode"
  send=("$build/app/mailcart-send" --settings "$work/none.ini" --server "127.0.0.1:$port"
        "${security[@]}" --from "$from" --to "$to" --subject Batch --pause 0)
  measure "mailcart-send (one session)" "${send[@]}" "${batch[@]}"
  measure "mailcart-send --new-connection-per-message" "${send[@]}" --new-connection-per-message "${batch[@]}"
  measure "smtplib, a connection per message" /usr/bin/python3 bench/smtplib_batch.py "${login[@]}" \
    127.0.0.1 "$port" "$from" "$to" "${batch[@]}"
  measure "smtplib, one connection" /usr/bin/python3 bench/smtplib_batch.py --one-connection "${login[@]}" \
    127.0.0.1 "$port" "$from" "$to" "${batch[@]}"
  kill "$relay"
  wait "$relay" 2>/dev/null || true
  rm -f "$work/relay"
done
