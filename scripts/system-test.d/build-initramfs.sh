#!/usr/bin/env bash
# Builds the guest of the system test: the Debian kernel (downloaded once with
# apt-get download and only unpacked, never installed) and an initramfs with
# busybox, udevd, the kernel modules for USB disks, tarnwick-cli with the shared
# libraries it needs, and the files of FILES_DIR under /work.
# Usage: build-initramfs.sh WORK_DIR TARNWICK_CLI FILES_DIR
# Writes WORK_DIR/vmlinuz and WORK_DIR/initramfs.gz; nothing outside WORK_DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
cli=$2
files=$3

mkdir -p "$work/debs"
cd "$work/debs"
kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
[ -n "$kpkg" ] || { echo "no kernel package behind linux-image-amd64" >&2; exit 1; }
ls "${kpkg}"_*.deb >/dev/null 2>&1 || apt-get download "$kpkg"
kver=${kpkg#linux-image-}
kroot="$work/kroot"
if [ ! -e "$kroot/boot/vmlinuz-$kver" ]; then
  rm -rf "$kroot"
  dpkg -x "${kpkg}"_*.deb "$kroot"
fi
cp "$kroot/boot/vmlinuz-$kver" "$work/vmlinuz"

root="$work/initramfs"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,run,tmp,mnt,media,etc,work,lib/systemd,lib64,usr/bin}
cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
cp "$here/guest-init.sh" "$root/init"
chmod +x "$root/init"

# A dynamic program and the libraries ldd finds for it.
copy_with_libs() {
  cp "$1" "$root/bin/"
  ldd "$1" | awk '/=>/{print $3} /ld-linux/{print $1}' | while read -r lib; do
    [ -f "$lib" ] || continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$(dirname "$lib")/"
  done
}
copy_with_libs "$cli"
copy_with_libs /bin/udevadm
# The busy guest's prober: blkid -p under flock, as udev's probe reads a disk.
copy_with_libs "$(command -v blkid)"
copy_with_libs "$(command -v flock)"
ln -sf /bin/udevadm "$root/lib/systemd/systemd-udevd"
mkdir -p "$root/lib/udev"
cp -a /lib/udev/rules.d /lib/udev/scsi_id /lib/udev/ata_id "$root/lib/udev/"
# udevd resolves the GROUP= names of its rules.
cat >"$root/etc/group" <<'EOF'
root:x:0:
disk:x:6:
tape:x:26:
cdrom:x:24:
dialout:x:20:
kvm:x:104:
render:x:105:
sgx:x:106:
video:x:44:
audio:x:29:
input:x:101:
plugdev:x:46:
tty:x:5:
EOF
printf 'root:x:0:0:root:/:/bin/sh\n' >"$root/etc/passwd"
cp -a "$files"/. "$root/work/"

# USB disks (xhci, usb-storage and its SCSI bus), SCSI generic nodes for the
# board search, the SD slot, and vfat for the automounted card.
modules="xhci_pci usb_storage sd_mod sg sdhci_pci mmc_block vfat nls_cp437 nls_utf8 nls_ascii nls_iso8859_1"
depmod -b "$kroot" "$kver"
for m in $modules; do modprobe -d "$kroot" -S "$kver" --show-depends "$m"; done |
  awk '$1=="insmod"{print $2}' | sort -u | while read -r f; do
    rel=${f#"$kroot"}
    mkdir -p "$root$(dirname "$rel")"
    cp "$f" "$root$rel"
  done
cp "$kroot/lib/modules/$kver"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$kver/"
depmod -b "$root" "$kver"
echo "$modules" >"$root/etc/systest-modules"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
echo "guest: kernel $kver, initramfs $(du -h "$work/initramfs.gz" | cut -f1)"
