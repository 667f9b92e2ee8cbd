# Sourced by the *_vs_cp.sh scripts: the build directory, a scratch working
# directory removed on exit, the timer and a padded demonstration disk.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# best OUTPUT COMMAND...: the best of five wall times of COMMAND, in
# milliseconds. OUTPUT is removed before each run, so that every run writes
# a new file rather than also freeing the old one's blocks.
best() {
  local output=$1 best=
  shift
  for _ in 1 2 3 4 5; do
    local start end
    rm -f "$output"
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    local us=$(((end - start) / 1000))
    if [[ -z $best || $us -lt $best ]]; then best=$us; fi
  done
  printf '%d.%03d ms' $((best / 1000)) $((best % 1000))
}

# disk.bin: the demonstration disk padded to 1 MiB, its size field to match.
python3 - "$build/demo.d88" <<'PY'
import struct, sys
disk = bytearray(open(sys.argv[1], 'rb').read())
disk += bytes((1 << 20) - len(disk))
struct.pack_into('<i', disk, 0x1C, len(disk))
open('disk.bin', 'wb').write(disk)
PY
