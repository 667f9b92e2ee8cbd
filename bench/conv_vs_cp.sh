#!/usr/bin/env bash
# d88conv against cp: wall time, best of five, on a 64 MiB raw dump of
# layout 64x2x128x4096 and on its D88 image, each way, and for a disk taken
# out of the image. Usage: bench/conv_vs_cp.sh [BUILD_DIR]
source "$(dirname "$0")/common.sh"

layout=64x2x128x4096
head -c $((64 * 2 * 128 * 4096)) /dev/urandom >disk.raw
"$build/bin/d88conv" --from-raw "$layout" disk.raw disk.d88 >/dev/null

printf 'disk.raw (%d bytes): cp %s, d88conv --from-raw %s\n' \
  "$(stat -c %s disk.raw)" "$(best copy.raw cp disk.raw copy.raw)" \
  "$(best new.d88 "$build/bin/d88conv" --from-raw "$layout" disk.raw new.d88)"
cmp disk.d88 new.d88
printf 'disk.d88 (%d bytes): cp %s, d88conv --to-raw %s, --disk 0 %s\n' \
  "$(stat -c %s disk.d88)" "$(best copy.d88 cp disk.d88 copy.d88)" \
  "$(best back.raw "$build/bin/d88conv" --to-raw disk.d88 back.raw)" \
  "$(best one.d88 "$build/bin/d88conv" --disk 0 disk.d88 one.d88)"
cmp disk.raw back.raw
cmp disk.d88 one.d88
