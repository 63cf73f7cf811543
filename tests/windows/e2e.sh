#!/usr/bin/env bash
# End to end under Wine: the Windows command line burns the same inputs as the
# Linux one (the worked example on a 4 GiB sparse card image, a small card,
# and board mode with the simulated board); the card images and the debug
# logs (standard output) must be identical byte for byte, and so must the
# pack file that each one builds.
#   tests/windows/e2e.sh [BUILD_WIN [BUILD_LINUX]]   (default build-win, build)
# Prints PASS or FAIL per comparison; exits non-zero when any fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
build_win=$(realpath -m "${1:-build-win}")
build_linux=$(realpath -m "${2:-build}")

linux_cli=$build_linux/bin/tarnwick-cli
win_cli=$build_win/bin/tarnwick-cli.exe
if [ ! -x "$linux_cli" ]; then
  cmake -S . -B "$build_linux" -DTARNWICK_GUI=OFF -DTARNWICK_WERROR=ON >/dev/null
  cmake --build "$build_linux" -j2 --target tarnwick-cli >/dev/null
fi
if [ ! -f "$win_cli" ]; then
  cmake --build "$build_win" -j2 --target tarnwick-cli >/dev/null
fi
prefix=$build_win/wineprefix
win() { sh "$repo/cmake/run-under-wine.sh" "$prefix" "$win_cli" "$@"; }
lin() { "$linux_cli" "$@"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The inputs: image files of odd sizes, the example configuration and
# settings, and a small card's configuration with its own partition sizes.
mkdir -p "$work/in"
cd "$work/in"
filler() { { yes "$1" || true; } | head -c "$2"; }
filler "u-boot" 196608 >u.bin
filler "dfu" 65536 >dfu.bin
filler "boot" $((4 * 1024 * 1024)) >boot.img
filler "res" $((1024 * 1024 + 300)) >res.bin
filler "rec" $((6 * 1024 * 1024)) >rec.img
filler "sys" $((8 * 1024 * 1024 + 5)) >sys.img
filler "data" 512 >data.img
: >cache.img
cp "$repo/examples/board.ini" "$repo/examples/Tarnwick.ini" .
sed -e 's/^Partition_System=.*/Partition_System=20000/' -e 's/^Partition_Data=.*/Partition_Data=4000/' \
  -e 's/^Partition_Cache=.*/Partition_Cache=100/' -e 's/^Partition_Recovery=.*/Partition_Recovery=16000/' \
  -e 's/^Partition_Boot=.*/Partition_Boot=40000/' board.ini >small.ini

failures=0
check() {  # name, then a command that succeeds when the two sides agree
  local name=$1
  shift
  if "$@"; then
    echo "PASS $name"
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
}
same_files() { cmp -s "$1" "$2" || { cmp "$1" "$2" | head -3 >&2; false; }; }
same_text() { diff -u "$1" "$2" >&2; }

# Each side runs in a copy of the inputs, with the same relative paths.
run_side() {  # side: lin or win
  local side=$1
  mkdir -p "$work/$side"
  cp -r "$work/in/." "$work/$side/"
  cd "$work/$side"
  local status=0
  $side mkpack --out p.pack --dfu dfu.bin --uboot u.bin --bootimg boot.img --bootres res.bin \
    --bootrecover rec.img --system sys.img --data data.img --cache cache.img \
    >mkpack.log 2>mkpack.err || status=$?
  echo "mkpack exit $status" >status
  # Both sides burn the pack that Linux built, so that a pack difference shows once.
  if [ "$side" = win ]; then cp "$work/lin/p.pack" p.pack; fi
  status=0
  $side burn --config board.ini --pack p.pack --target big.img --size 4G --yes \
    >burn-big.log 2>burn-big.err || status=$?
  echo "burn big exit $status" >>status
  status=0
  $side burn --config small.ini --pack p.pack --target small.img --size 64M --yes \
    >burn-small.log 2>burn-small.err || status=$?
  echo "burn small exit $status" >>status
  status=0
  $side download --config board.ini --pack p.pack --wait --simulate-board sim --yes \
    >dl.log 2>dl.err || status=$?
  echo "download exit $status" >>status
  cd "$work"
}

run_side lin
run_side win

L=$work/lin
W=$work/win
check "exit statuses" same_text "$L/status" "$W/status"
check "every command succeeded" test "$(grep -c ' exit 0$' "$W/status")" -eq 4
check "pack file" same_files "$L/p.pack" "$W/p.pack"
check "worked example: card image (4 GiB)" same_files "$L/big.img" "$W/big.img"
check "worked example: debug log" same_files "$L/burn-big.log" "$W/burn-big.log"
check "small card: card image" same_files "$L/small.img" "$W/small.img"
check "small card: debug log" same_files "$L/burn-small.log" "$W/burn-small.log"
check "board mode: card image" same_files "$L/sim/card.img" "$W/sim/card.img"
check "board mode: download received" same_files "$L/sim/received.bin" "$W/sim/received.bin"
check "board mode: debug log" same_files "$L/dl.log" "$W/dl.log"
# The burns must have written something: an empty log on both sides proves nothing.
check "debug logs are not empty" test -s "$L/burn-big.log" -a -s "$L/dl.log"

if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures comparison(s) failed; outputs kept in $work"
  trap - EXIT
  exit 1
fi
echo "e2e: PASS"
