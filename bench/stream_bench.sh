#!/usr/bin/env bash
# The path from the file to the socket, on this machine's loopback to bench/smtp_sink.py:
#  1. 200 files of 100 KiB, pause 0, one session: mailcart-send beside a plain SMTP generator
#     (smtp-source, unpacked from Debian's postfix package into the build folder, never
#     installed) sending the same message, precomposed, 200 times over one connection; messages
#     per second and CPU (user + system) per message, RUNS alternating runs of each after one
#     untimed run of each (caches, the sink's first session), medians; beside each, the sink's
#     CPU per message (each side waits for it) and the bytes it took per message, which are the
#     same on both sides; each run timed to the microsecond by bench/timed_run.py;
#  2. one file of 1 GiB: peak resident memory and MB/s beside the 100 KiB batch's MB/s;
#  3. system calls per 100 KiB message (strace -c -f over 40 messages less those over 20, so that
#     the program's start is left out).
# Usage: bench/stream_bench.sh [BUILD_DIR] [RUNS]   (defaults: build, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
readonly files=200 file_kib=100
readonly from=me@example.com to=you@example.com

ninja -C "$build" mailcart-send >/dev/null
tools="$build/bench-tools"
if [ ! -x "$tools/usr/sbin/smtp-source" ]; then
  mkdir -p "$tools"
  (cd "$tools" && apt-get download postfix >/dev/null 2>&1 && dpkg-deb -x postfix_*.deb . && rm -f postfix_*.deb)
fi
source_cmd=(env LD_LIBRARY_PATH="$tools/usr/lib/postfix" "$tools/usr/sbin/smtp-source")

. bench/servers.sh
start sink /usr/bin/python3 bench/smtp_sink.py --stats "$work/sink" --max-seconds 3600
sink_pid=$pid
mkdir "$work/eml"
make_batch "$files" "$file_kib"
send=("$build/app/mailcart-send" --settings "$work/none.ini" --no-journal --server "127.0.0.1:$port"
      --security none --from "$from" --to "$to" --subject Batch --pause 0)
"${send[@]}" --dry-run="$work/eml" "${batch[0]}" >/dev/null
precomposed="$work/eml/0001.eml"
# The generator ends every line it reads with CR LF itself: from the composed file's CR LF lines
# it would send CR CR LF, a bare CR and one byte more on each line.
tr -d '\r' <"$precomposed" >"$work/precomposed-lf.eml"
source_send=("${source_cmd[@]}" -d -s 1 -m "$files" -f "$from" -t "$to" -F "$work/precomposed-lf.eml" "127.0.0.1:$port")

# The sink's CPU time so far (ns, from the scheduler) and the bytes it has taken.
sink_state() {
  local bytes=0
  [ -f "$work/sink" ] && bytes=$(cut -d' ' -f2 "$work/sink")
  echo "$(cut -d' ' -f1 "/proc/$sink_pid/schedstat") $bytes"
}

# timed NAME MESSAGES COMMAND...: one line to $work/times, "NAME seconds CPU/message peak-KiB
# sink-CPU/message sink-bytes/message" (CPU: user + system, in seconds)
timed() {
  local name=$1 messages=$2 before
  shift 2
  before=$(sink_state)
  /usr/bin/python3 bench/timed_run.py "$work/time" "$@" >/dev/null 2>"$work/errors" ||
    { echo "stream_bench: $name failed:" >&2; cat "$work/errors" >&2; exit 1; }
  echo "$before $(sink_state)" >"$work/sink-delta"
  awk -v n="$name" -v m="$messages" 'NR == FNR { sc = ($3 - $1) / 1e9 / m; sb = ($4 - $2) / m; next }
    { printf "%s %f %f %d %f %d\n", n, $1, ($2 + $3) / m, $4, sc, sb }' "$work/sink-delta" "$work/time" >>"$work/times"
}

"${send[@]}" "${batch[@]}" >/dev/null
"${source_send[@]}" >/dev/null
: >"$work/times"
for _ in $(seq "$runs"); do
  timed mailcart-send "$files" "${send[@]}" "${batch[@]}"
  timed smtp-source "$files" "${source_send[@]}"
done
echo "== $files messages of a $file_kib KiB file ($(stat -c %s "$precomposed") bytes composed), pause 0," \
     "one session, loopback, median of $runs alternating runs (slowest-fastest)"
for name in mailcart-send smtp-source; do
  awk -v n="$name" -v m="$files" '$1 == n { t[++k] = $2; c[k] = $3; s[k] = $5; b[k] = $6 }
    function median(a, k,   i, j, x) { for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j > 0 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
                                    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2 }
    END { mt = median(t, k)  # sorts t: t[1] the fastest run, t[k] the slowest
          printf "  %-14s %7.1f msg/s (%.0f-%.0f)  %6.3f ms CPU/message; sink %6.3f ms CPU/message, %d bytes/message\n",
                 n, m / mt, m / t[k], m / t[1], 1000 * median(c, k), 1000 * median(s, k), median(b, k) }' "$work/times"
done

echo "== one file of 1 GiB beside the 100 KiB batch"
head -c $((1 << 30)) /dev/urandom >"$work/big.bin"
: >"$work/times"
timed big 1 "${send[@]}" "$work/big.bin"
timed batch "$files" "${send[@]}" "${batch[@]}"
awk -v small=$((files * file_kib * 1024)) -v big=$((1 << 30)) '
  $1 == "big" { bt = $2; rss = $4 } $1 == "batch" { st = $2 }
  END { printf "  1 GiB: %.0f MiB peak resident, %.1f MB/s; 100 KiB batch: %.1f MB/s (%.0f %%)\n",
               rss / 1024, big / bt / 1e6, small / st / 1e6, 100 * (big / bt) / (small / st) }' "$work/times"
rm -f "$work/big.bin"

echo "== system calls per 100 KiB message (strace -c -f: 40 messages less 20)"
strace -c -f -o "$work/strace20" "${send[@]}" "${batch[@]:0:20}" >/dev/null 2>&1
strace -c -f -o "$work/strace40" "${send[@]}" "${batch[@]:0:40}" >/dev/null 2>&1
awk 'FNR == 1 { run++ } $4 ~ /^[0-9]+$/ && $NF != "total" { calls[$NF] += (run == 2 ? 1 : -1) * $4 }
  END { for (c in calls) { total += calls[c]; if (calls[c] >= 20) printf "    %-14s %8.1f\n", c, calls[c] / 20 }
        printf "  %.1f calls per message\n", total / 20 }' "$work/strace20" "$work/strace40" | sort -k2 -n -r
