#!/bin/sh
# /init of the system test's guest. The scenario comes from the kernel command
# line (systest=cards|board|boardmedia|udevrule|faults|pulled|again|busyboard|throttled). Results are printed as "SYSTEST key=value" lines on
# the serial console; the host reads them from its log and checks the disk images.
export PATH=/bin:/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs run /run
mount -t tmpfs tmp /tmp
mkdir -p /media /mnt
echo "SYSTEST init-start uptime=$(cut -d' ' -f1 /proc/uptime)"
for m in $(cat /etc/systest-modules); do modprobe "$m"; done
/lib/systemd/systemd-udevd >/tmp/udevd.log 2>&1 &
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=30

arg() { sed -n "s/.*$1=\\([a-z0-9]*\\).*/\\1/p" /proc/cmdline; }
SCENARIO=$(arg systest)
NDISKS=$(arg ndisks)
i=0
while [ "$(ls -d /sys/block/sd* 2>/dev/null | wc -l)" -lt "${NDISKS:-0}" ] && [ $i -lt 120 ]; do
  sleep 0.5
  i=$((i + 1))
done
i=0
while [ -n "$(arg sdslot)" ] && [ ! -e /sys/block/mmcblk0 ] && [ $i -lt 60 ]; do
  sleep 0.5
  i=$((i + 1))
done
udevadm settle --timeout=30
echo "SYSTEST devices-ready uptime=$(cut -d' ' -f1 /proc/uptime) scenario=$SCENARIO"

step() { echo "---- [$(cut -d' ' -f1 /proc/uptime)] $*"; }
result() { echo "SYSTEST $1=$2"; }

# The whole disk sdX of the given size in 512-byte sectors (sizes tell the
# test's disks apart).
disk_of_size() {
  for d in /sys/block/sd*; do
    [ "$(cat "$d/size")" = "$1" ] && { echo "${d##*/}"; return; }
  done
}

partitions() {
  for p in "/sys/block/$1/$1"*; do
    [ -e "$p/partition" ] && echo "${p##*/}"
  done
}

show_disks() {
  for d in /sys/block/mmcblk* /sys/block/sd*; do
    [ -e "$d" ] || continue
    n=${d##*/}
    echo "  $n size=$(cat "$d/size") removable=$(cat "$d/removable")" \
      "$(case $n in mmcblk*) echo "type=$(cat "$d/device/type")" ;; *) echo "vendor=$(tr -d ' ' <"$d/device/vendor")" ;; esac)" \
      "partitions=$(partitions "$n" | tr '\n' ' ')"
  done
}

# Runs the tool with its standard output and error on the console (through a
# pipe, so it sees no terminal) and records the exit status as "SYSTEST NAME=rc".
# A run that hangs is ended after 10 minutes (status 124 or above).
run_tool() {
  name=$1
  shift
  step "tarnwick-cli $*"
  { timeout 600 tarnwick-cli "$@"; echo $? >/tmp/rc; } 2>&1 | tee "/tmp/$name.out"
  result "$name" "$(cat /tmp/rc)"
}

# For each card of a burn's output (a card's block starts with its partition
# plan), whether it ends in "Write ok": "SYSTEST NAME-ok=1 0 1".
write_ok_by_card() {
  result "$1-ok" "$(awk '/^m_arrStartSector:/ { n++; ok[n] = 0 }
    /^BurnToOneSD: Write ok/ { ok[n] = 1 }
    END { for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? "," : ""), ok[i] }' "/tmp/$1.out")"
}

# Every USB disk present but the board's.
card_disks() {
  for d in /sys/block/sd*; do
    [ -e "$d" ] && ! grep -q HALDREN "$d/device/vendor" 2>/dev/null && echo "/dev/${d##*/}"
  done
}

# Keeps the guest busy: one CPU spinning, and a prober that opens the given
# disk the way udev's probe does (a shared lock on the whole disk while blkid
# reads it), over and over. "cards" probes every USB disk present at the time
# but the board's (udev probes that once on its arrival; reading it again and
# again while the board leaves the bus stalls the guest's USB hot-plug for
# minutes, which is no test of ours).
busy_start() {
  (while :; do :; done) &
  BUSY_PIDS=$!
  (while :; do
    if [ "$1" = cards ]; then disks=$(card_disks); else disks=$1; fi
    [ -n "$disks" ] || sleep 0.2
    for d in $disks; do
      [ -b "$d" ] && flock -s "$d" blkid -p "$d" >/dev/null 2>&1
    done
  done) &
  BUSY_PIDS="$BUSY_PIDS $!"
  step "busy: pids $BUSY_PIDS (CPU load, blkid -p under a shared lock on $1)"
}
busy_stop() { kill $BUSY_PIDS 2>/dev/null; wait $BUSY_PIDS 2>/dev/null; }

# How often the tool found a card busy and got it, over the given outputs.
report_waits() { # NAME OUTPUT...
  name=$1
  shift
  result "$name-busy" "$(cat "$@" | grep -c 'OpenDisk: .* busy, waiting')"
  result "$name-obtained" "$(cat "$@" | grep -c 'OpenDisk: .* obtained after')"
  cat "$@" | grep -a '^OpenDisk: '
}

cards() {
  A=$(disk_of_size "$(arg sectorsa)")
  B=$(disk_of_size "$(arg sectorsb)")
  F=$(disk_of_size "$(arg sectorsf)")
  result reader-a "$A"
  result reader-b "$B"
  result fixed "$F"
  result sd-slot "$([ -e /sys/block/mmcblk0 ] && echo mmcblk0)"
  show_disks

  step "automount: /dev/${A}1 on /media/lab/CARD"
  mkdir -p /media/lab/CARD
  mount -t vfat "/dev/${A}1" /media/lab/CARD && ls -la /media/lab/CARD
  result mounted-before "$(grep -c " /media/lab/CARD " /proc/mounts)"

  cd /work || exit 1
  run_tool disks disks --config lab.ini --pack lab.pack
  run_tool burn burn --config lab.ini --pack lab.pack --yes
  result mounted-after "$(grep -c " /media/lab/CARD " /proc/mounts)"
  udevadm settle --timeout=30
  show_disks
  result partitions-a "$(partitions "$A" | wc -l)"
  result partitions-b "$(partitions "$B" | wc -l)"
  result partitions-sd "$(partitions mmcblk0 | wc -l)"

  step "refusals: a fixed disk named as target, a card mounted outside /media"
  run_tool refuse-fixed burn --config lab.ini --pack lab.pack --target "/dev/$F" --yes
  mkdir -p /mnt/held
  mount -o ro -t vfat "/dev/${B}1" /mnt/held
  run_tool refuse-mounted burn --config lab.ini --pack lab.pack --target "/dev/$B" --yes
  result held-mount-kept "$(grep -c " /mnt/held " /proc/mounts)"
  umount /mnt/held
}

board() {
  show_disks
  cd /work || exit 1
  # The host hot-plugs the card once it sees "waiting" from the tool.
  run_tool download download --config lab.ini --pack lab.pack --wait --timeout 240 --yes
  udevadm settle --timeout=30
  show_disks
}

# The board's card arrives as new media in a reader that was there, empty.
board_media() {
  cd /work || exit 1
  run_tool disks disks --config lab.ini --pack lab.pack
  board
}

# The package's udev rule for the board: before and after it is installed,
# the tags and permissions of the board's SCSI generic node, of the board's
# block device and of an ordinary USB disk's SCSI generic node.
has_tag() { # NODE TAG
  udevadm info --query=property --name="$1" | grep -q "^TAGS=.*:$2:" && echo 1 || echo 0
}
sg_of() { ls "/sys/block/$1/device/scsi_generic/" 2>/dev/null | head -1; }
report_nodes() { # SUFFIX
  result "board-sg-uaccess$1" "$(has_tag "/dev/$BOARD_SG" uaccess)"
  result "board-sg-seat$1" "$(has_tag "/dev/$BOARD_SG" seat)"
  result "board-sg-mode$1" "$(stat -c %a:%U:%G "/dev/$BOARD_SG")"
  result "board-disk-uaccess$1" "$(has_tag "/dev/$BOARD_DISK" uaccess)"
  result "other-sg-uaccess$1" "$(has_tag "/dev/$OTHER_SG" uaccess)"
  result "other-sg-mode$1" "$(stat -c %a:%U:%G "/dev/$OTHER_SG")"
}
udev_rule() {
  for d in /sys/block/sd*; do
    if grep -q HALDREN "$d/device/vendor" && grep -q "RUZUD OVUD" "$d/device/model"; then
      BOARD_DISK=${d##*/}
    else
      OTHER_DISK=${d##*/}
    fi
  done
  BOARD_SG=$(sg_of "$BOARD_DISK")
  OTHER_SG=$(sg_of "$OTHER_DISK")
  result board-sg "$BOARD_SG"
  result other-sg "$OTHER_SG"
  show_disks
  report_nodes -before
  step "install the rule in /usr/lib/udev/rules.d, reload, trigger the SCSI generic nodes"
  mkdir -p /usr/lib/udev/rules.d
  cp /work/70-tarnwick-board.rules /usr/lib/udev/rules.d/
  udevadm control --reload
  udevadm trigger --action=add --subsystem-match=scsi_generic --subsystem-match=block
  udevadm settle --timeout=30
  report_nodes
  for n in "$BOARD_SG" "$OTHER_SG" "$BOARD_DISK"; do
    echo "  /dev/$n: $(stat -c '%a %U:%G' "/dev/$n") $(udevadm info --query=property --name="/dev/$n" | grep '^TAGS=')"
  done
}

# Three cards (by size: A, B, C) burned as named targets in that order; the
# host makes writes into B's System region fail.
faults() {
  A=$(disk_of_size "$(arg sectorsa)")
  B=$(disk_of_size "$(arg sectorsb)")
  C=$(disk_of_size "$(arg sectorsc)")
  result card-a "$A"
  result card-b "$B"
  result card-c "$C"
  show_disks
  cd /work || exit 1
  run_tool burn burn --config lab.ini --pack lab.pack --target "/dev/$A" --target "/dev/$B" \
    --target "/dev/$C" --yes
  write_ok_by_card burn
}

# The same with card A first, unplugged by the host while its System image is
# written (its writes are throttled so that the System image takes a while).
pulled() {
  faults
  result a-gone "$([ -e "/sys/block/$A" ] && echo 0 || echo 1)"
}

# A second burn right after the first, starting with the card the first one
# wrote last, while the guest is busy and that card is probed again and again.
again() {
  A=$(disk_of_size "$(arg sectorsa)")
  B=$(disk_of_size "$(arg sectorsb)")
  result card-a "$A"
  result card-b "$B"
  show_disks
  cd /work || exit 1
  busy_start "/dev/$B"
  run_tool burn1 burn --config lab.ini --pack lab.pack --target "/dev/$A" --target "/dev/$B" --yes
  run_tool burn2 burn --config lab.ini --pack lab.pack --target "/dev/$B" --target "/dev/$A" --yes
  busy_stop
  write_ok_by_card burn1
  write_ok_by_card burn2
  report_waits again /tmp/burn1.out /tmp/burn2.out
}

# Runs the tool as run_tool does and records how long it took, in seconds
# from /proc/uptime: "SYSTEST NAME-seconds=S".
timed_tool() {
  t0=$(cut -d' ' -f1 /proc/uptime)
  run_tool "$@"
  t1=$(cut -d' ' -f1 /proc/uptime)
  result "$1-seconds" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')"
}

# Four cards (by size: A, B, C, D) behind readers whose writes the host
# throttles: one card, then the four one after another, then (once burn has
# them) the four at once and the four at once with verification. The host
# reads QEMU's block statistics at the two phase lines around the last burn.
throttled() {
  A=$(disk_of_size "$(arg sectorsa)")
  B=$(disk_of_size "$(arg sectorsb)")
  C=$(disk_of_size "$(arg sectorsc)")
  D=$(disk_of_size "$(arg sectorsd)")
  result card-a "$A"
  result card-b "$B"
  result card-c "$C"
  result card-d "$D"
  show_disks
  cd /work || exit 1
  set -- --target "/dev/$A" --target "/dev/$B" --target "/dev/$C" --target "/dev/$D"
  timed_tool one burn --config lab.ini --pack lab.pack --target "/dev/$A" --yes
  timed_tool sequential burn --config lab.ini --pack lab.pack "$@" --yes
  write_ok_by_card sequential
  if tarnwick-cli burn --help 2>&1 | grep -q -- '--parallel'; then
    result can-parallel 1
    timed_tool parallel burn --config lab.ini --pack lab.pack "$@" --parallel --yes
    write_ok_by_card parallel
    echo "SYSTEST phase=verify-start"
    timed_tool verify burn --config lab.ini --pack lab.pack "$@" --parallel --verify --yes
    echo "SYSTEST phase=verify-end"
    # The host asks QEMU for its block statistics when it sees that line:
    # give it time before the guest powers off.
    sleep 3
    result verify-ok "$(grep -c '^BurnToOneSD: Verify ok' /tmp/verify.out)"
  else
    result can-parallel 0
    echo "SYSTEST phase=verify-start"
    echo "SYSTEST phase=verify-end"
  fi
}

board_present() { grep -ql HALDREN /sys/block/sd*/device/vendor 2>/dev/null; }

# Board mode three times on a busy guest: after each burn the host takes the
# card's reader away and plugs the board in again.
busy_board() {
  show_disks
  cd /work || exit 1
  busy_start cards
  for round in 1 2 3; do
    i=0
    while ! board_present && [ $i -lt 240 ]; do
      sleep 0.5
      i=$((i + 1))
    done
    udevadm settle --timeout=30
    step "round $round"
    run_tool "download$round" download --config lab.ini --pack lab.pack --wait --timeout 240 --yes
  done
  busy_stop
  report_waits busyboard /tmp/download1.out /tmp/download2.out /tmp/download3.out
  step "kernel messages about USB and SCSI disks (the last 40)"
  dmesg | grep -E 'usb|scsi|sd[a-z]' | tail -40
}

case "$SCENARIO" in
  cards) cards ;;
  faults) faults ;;
  pulled) pulled ;;
  again) again ;;
  busyboard) busy_board ;;
  throttled) throttled ;;
  board) board ;;
  boardmedia) board_media ;;
  udevrule) udev_rule ;;
  *) echo "SYSTEST unknown scenario '$SCENARIO'" ;;
esac
sync
echo "SYSTEST done uptime=$(cut -d' ' -f1 /proc/uptime)"
poweroff -f
