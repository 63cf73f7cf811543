#!/usr/bin/env bash
# Builds the Debian package (scripts/package-deb, which reuses its Release
# build folder) and checks it: unpacked with dpkg-deb -x into a temporary
# root, every file in its place and nothing else, the programs' --version,
# desktop-file-validate, appstreamcli validate, the manual pages without
# warnings and complete, the bash completion, the udev rule, and lintian
# without errors (its warnings are listed).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

deb=$(bash "$repo/scripts/package-deb" | tail -1)
[ -f "$deb" ] || { echo "check-deb: no package was built" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

passes=0
failures=0
check() { # DESCRIPTION COMMAND...
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then
    passes=$((passes + 1))
  else
    echo "  FAIL  $what"
    [ -z "$out" ] || printf '%s\n' "$out" | sed 's/^/        /' | head -20
    failures=$((failures + 1))
  fi
}
same_text() { [ "$1" = "$2" ] || { printf 'got:      %s\nexpected: %s\n' "$1" "$2"; false; }; }

version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
echo "check-deb: $deb (version $version, $arch)"
check "file name is tarnwick_<version>_<arch>.deb" \
  same_text "$(basename "$deb")" "tarnwick_${version}_${arch}.deb"
check "version is project(VERSION)" same_text "$version" \
  "$(sed -n 's/^project(tarnwick VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libudev1 libsystemd0 libstdc++6 libc6; do
  check "Depends (from dpkg-shlibdeps) names $lib" grep -q "\\b$lib\\b" <<<"$depends"
done
check "Depends names udisks2" grep -qw udisks2 <<<"$depends"

# ---- every file in its place, and nothing else ----
metainfo=$(cd "$root" && ls usr/share/metainfo/*.metainfo.xml 2>/dev/null)
id=$(basename "$metainfo" .metainfo.xml)
check "one AppStream metainfo file" test -n "$id" -a "$(wc -w <<<"$metainfo")" = 1
expected=(
  usr/bin/tarnwick
  usr/bin/tarnwick-cli
  "usr/share/applications/$id.desktop"
  "usr/share/metainfo/$id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$id.svg"
  usr/share/man/man1/tarnwick.1.gz
  usr/share/man/man1/tarnwick-cli.1.gz
  usr/share/bash-completion/completions/tarnwick-cli
  usr/lib/udev/rules.d/70-tarnwick-board.rules
  usr/share/doc/tarnwick/copyright
  usr/share/doc/tarnwick/changelog.gz
  usr/share/doc/tarnwick/examples/board.ini
  usr/share/doc/tarnwick/examples/Tarnwick.ini
  usr/share/doc/tarnwick/schema/audit.schema.json
  usr/share/doc/tarnwick/schema/disks.schema.json
  usr/share/doc/tarnwick/schema/inspect.schema.json
  usr/share/doc/tarnwick/schema/report.schema.json
)
sizes=(16 24 32 48 64 128 256)
for s in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${s}x${s}/apps/$id.png"); done
check "the package holds exactly the expected files" diff \
  <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
for s in "${sizes[@]}"; do
  check "icon ${s}x${s} is a ${s} x ${s} PNG" \
    grep -q "PNG image data, $s x $s," <<<"$(file "$root/usr/share/icons/hicolor/${s}x${s}/apps/$id.png")"
done
check "scalable icon is SVG" grep -q "SVG" <<<"$(file "$root/usr/share/icons/hicolor/scalable/apps/$id.svg")"
for exe in tarnwick tarnwick-cli; do
  check "$exe: stripped executable" grep -q "executable.*, stripped" <<<"$(file "$root/usr/bin/$exe")"
  # No display is needed: --version is answered before the toolkit starts.
  check "$exe --version prints the package version" \
    same_text "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$exe" --version)" "$exe $version"
done
check "examples are the repository's" diff -r "$repo/examples" "$root/usr/share/doc/tarnwick/examples"
check "changelog names this version" grep -q "^tarnwick ($version)" <(zcat "$root/usr/share/doc/tarnwick/changelog.gz")

# ---- desktop entry and AppStream ----
desktop="$root/usr/share/applications/$id.desktop"
check "desktop-file-validate" desktop-file-validate "$desktop"
check "desktop entry starts the dialog as the desktop user (Exec=tarnwick)" \
  same_text "$(sed -n 's/^Exec=//p' "$desktop")" tarnwick
no_elevation() { ! grep -rlE '\b(sudo|pkexec|gksu|gksudo|kdesu)\b' "$@"; }
check "desktop entry and metainfo ask for no sudo, pkexec or su" \
  no_elevation "$root/usr/share/applications" "$root/usr/share/metainfo"
check "desktop entry's icon is the installed one" same_text "$(sed -n 's/^Icon=//p' "$desktop")" "$id"
check "appstreamcli validate --no-net" appstreamcli validate --no-net "$root/$metainfo"
check "metainfo launches the desktop entry" grep -q "<launchable type=\"desktop-id\">$id.desktop<" "$root/$metainfo"
check "metainfo has a screenshot at an https address" grep -qE '<image>https://[^<]+\.png</image>' "$root/$metainfo"

# ---- manual pages ----
man_quiet() { # FILE: man's warnings, if any, are the failure
  local out
  out=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "$out"; false; }
}
for page in tarnwick tarnwick-cli; do
  check "man $page: no warnings" man_quiet "$root/usr/share/man/man1/$page.1.gz"
done
cli_man=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/tarnwick-cli.1.gz" 2>/dev/null)
gui_man=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/tarnwick.1.gz" 2>/dev/null)
# shellcheck disable=SC1091
source "$here/cli-options.sh"
commands=$("$root/usr/bin/tarnwick-cli" --help | sed -n 's/^  \([a-z]\+\) .*/\1/p; s/^  \([a-z]\+\)$/\1/p')
check "tarnwick-cli --help lists the five commands" \
  same_text "$(sort <<<"$commands" | tr '\n' ' ')" "burn disks download inspect mkpack "
for cmd in $commands; do
  section=$(awk -v c="$cmd" '$0 == "   " c {on=1; next} /^   [a-z]+$/ {on=0} /^[A-Z]/ {on=0} on' \
    <<<"$cli_man")
  for opt in $(cli_options "$root/usr/bin/tarnwick-cli" "$cmd"); do
    check "tarnwick-cli(1) documents $cmd $opt" grep -q -- "$opt" <<<"$section"
  done
done
for status in 0 1 2 3; do
  check "tarnwick-cli(1) documents exit status $status" \
    grep -qE "^       $status( |\$)" <<<"$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$cli_man")"
done
for key in $(grep -oE '^[A-Za-z]+=' "$repo/examples/Tarnwick.ini" | tr -d '='); do
  check "tarnwick(1) documents the setting $key" grep -qw "$key" <<<"$gui_man"
  check "tarnwick-cli(1) documents the setting $key" grep -qw "$key" <<<"$cli_man"
done
for opt in --card-images --simulate-board --version TARNWICK_CARD_IMAGES TARNWICK_SIMULATE_BOARD; do
  check "tarnwick(1) documents $opt" grep -q -- "$opt" <<<"$gui_man"
done

# ---- bash completion ----
check "bash completion" bash "$here/completion.sh" "$root"

# ---- udev rule ----
rule="$root/usr/lib/udev/rules.d/70-tarnwick-board.rules"
vendor=$(sed -n 's/^inline constexpr char kBoardVendor\[\] = "\(.*\)";/\1/p' "$repo/src/usbdev/inquiry.h")
product=$(sed -n 's/^inline constexpr char kBoardProduct\[\] = "\(.*\)";/\1/p' "$repo/src/usbdev/inquiry.h")
match=$(grep -v '^#' "$rule" | tr -d '\\\n')
check "udev rule: the board's identity as the code matches it ($vendor / $product)" \
  grep -qF "ATTRS{vendor}==\"*$vendor*\", ATTRS{model}==\"*$product*\"" <<<"$match"
check "udev rule: SCSI generic nodes only" grep -qF 'SUBSYSTEM!="scsi_generic", GOTO="tarnwick_board_end"' "$rule"
check "udev rule: tag uaccess and mode 0660, nothing wider" \
  same_text "$(grep -oE '(MODE|GROUP|OWNER|TAG)[+:]?="[^"]*"' <<<"$match" | tr '\n' ' ')" 'MODE="0660" TAG+="uaccess" '

# ---- lintian ----
lintian_out=$(lintian --fail-on none "$deb" 2>&1 | grep -v 'running with root privileges')
no_errors() { ! grep -E '^E: ' <<<"$lintian_out"; }
check "lintian: no errors" no_errors
echo "lintian warnings:"
grep -E '^W: ' <<<"$lintian_out" | sed 's/^/  /' || echo "  (none)"

echo "check-deb: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
