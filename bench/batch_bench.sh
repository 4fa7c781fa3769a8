#!/usr/bin/env bash
# The batch end to end, against one local SMTP sink (bench/smtp_sink.py) in the same run:
#  1. 200 files of 100 KiB, no pause: messages per second and CPU seconds (user + system of the
#     client and everything it started) of mailcart-send with its journal, without it
#     (--no-journal), and with the journal made durable before each deletion (--delete), beside the same files mailed by
#     swaks --attach and by curl (smtp://, -F), one run per file, and by a Python loop of
#     email + smtplib, one connection per message as mailcart-send does.
#  2. Peak memory (maximum resident set) of mailcart-send sending one 256 MiB file.
#  3. The window's longest event gap while it sends a 100 MB file (bench/window_bench).
# Usage: bench/batch_bench.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
readonly files=200 file_kib=100 big_mib=256
readonly from=me@example.com to=you@example.com

ninja -C "$build" mailcart-send window_bench >/dev/null
. bench/servers.sh
start sink /usr/bin/python3 bench/smtp_sink.py --stats "$work/stats" --max-seconds 3600
make_batch "$files" "$file_kib"

delivered() { if [ -e "$work/stats" ]; then awk '{print $1}' "$work/stats"; else echo 0; fi; }

# measure NAME COMMAND...: runs it under /usr/bin/time and prints one line of figures.
measure() {
  local name=$1
  shift
  local before after elapsed user sys rss
  before=$(delivered)
  if ! /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/errors"; then
    echo "batch_bench: $name failed:" >&2
    cat "$work/errors" >&2
    exit 1
  fi
  after=$(delivered)
  read -r elapsed user sys rss <"$work/time"
  awk -v n="$name" -v m=$((after - before)) -v e="$elapsed" -v u="$user" -v s="$sys" -v r="$rss" 'BEGIN {
    printf "%-16s %4d messages %7.2f s %8.1f msg/s %7.2f CPU s %7.1f MB peak\n", n, m, e, m / e, u + s, r / 1024 }'
}

echo "== $files files of $file_kib KiB, pause 0, to 127.0.0.1:$port"
export XDG_STATE_HOME="$work/state"
send=("$build/app/mailcart-send" --settings "$work/none.ini" --server "127.0.0.1:$port" --from "$from" --to "$to"
  --subject Batch --pause 0)
measure mailcart-send "${send[@]}" "${batch[@]}"
measure "  --no-journal" "${send[@]}" --no-journal "${batch[@]}"
cp -r "$work/files" "$work/copies"
measure "  --delete" "${send[@]}" --delete "$work"/copies/*.bin
measure "swaks --attach" bash -c 'port=$1; shift; for f; do
    swaks --server 127.0.0.1 --port "$port" --from me@example.com --to you@example.com \
      --header "Subject: Batch" --body " " --attach "@$f" || exit 1
  done' _ "$port" "${batch[@]}"
measure "curl -F" bash -c 'port=$1; shift; for f; do
    curl -sS --url "smtp://127.0.0.1:$port" --mail-from me@example.com --mail-rcpt you@example.com \
      -H "Subject: Batch" -F "= " -F "=@$f;encoder=base64" || exit 1
  done' _ "$port" "${batch[@]}"
measure "python smtplib" /usr/bin/python3 bench/smtplib_batch.py 127.0.0.1 "$port" "$from" "$to" "${batch[@]}"

echo "== one file of $big_mib MiB (limit: file size + 60 MB = $(( big_mib * 1048576 / 1000000 + 60 )) MB)"
head -c $((big_mib * 1048576)) /dev/urandom >"$work/big.bin"
rm -f "${batch[@]}"
measure mailcart-send "$build/app/mailcart-send" --settings "$work/none.ini" --server "127.0.0.1:$port" \
  --from "$from" --to "$to" --subject Big --pause 0 "$work/big.bin"
rm -f "$work/big.bin"

echo "== the window while it sends 100 MB (worst_gap_ms: the longest wait of a 5 ms timer)"
MAILCART_BENCH_SMTP="127.0.0.1:$port" "$build/bench/window_bench" 2>&1 | grep -E 'BM_|Benchmark'
