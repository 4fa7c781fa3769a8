# Sourced by the bench scripts: a work folder removed at the end with every server started in it,
# and the batch of random files they send.

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
: >"$work/none.ini"  # mailcart-send's --settings names a file that must exist

# start NAME COMMAND...: runs a server that prints "PORT <n>" once it listens; sets port and pid.
start() {
  local name=$1
  shift
  "$@" </dev/null >"$work/$name.out" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do grep -q '^PORT ' "$work/$name.out" && break; sleep 0.1; done
  port=$(awk '/^PORT /{print $2}' "$work/$name.out")
  [ -n "$port" ] || { echo "$(basename "$0"): $name did not start" >&2; exit 1; }
}

# make_batch COUNT KIB: COUNT files of KIB KiB of random bytes in $work/files; sets batch.
make_batch() {
  mkdir -p "$work/files"
  for i in $(seq -w 1 "$1"); do head -c $(($2 * 1024)) /dev/urandom >"$work/files/file$i.bin"; done
  batch=("$work"/files/*.bin)
}
