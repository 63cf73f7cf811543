#!/usr/bin/env bash
# The bash completion of tarnwick-cli, from a package unpacked under ROOT:
# completes command lines the way bash does and compares what it offers, and
# checks that every command's options are the ones its --help names.
# Usage: completion.sh ROOT
set -uo pipefail
root=$1
cli="$root/usr/bin/tarnwick-cli"
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1091
source "$root/usr/share/bash-completion/completions/tarnwick-cli"
# shellcheck disable=SC1091
source "$(dirname "$0")/cli-options.sh"

failures=0
fail() {
  echo "$*"
  failures=$((failures + 1))
}

# What the completion offers for LINE (the cursor at its end), sorted, on one line.
complete_line() {
  local line=$1 word
  local -a words=()
  # bash splits words at blanks and at "=".
  for word in $line; do
    if [[ $word == --*=* ]]; then
      words+=("${word%%=*}" "=" "${word#*=}")
    else
      words+=("$word")
    fi
  done
  [[ $line == *" " ]] && words+=("")
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _tarnwick_cli tarnwick-cli "${words[-1]}" "${words[-2]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' '
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir sub
touch board.ini lab.pack notes.txt

# LINE | what is offered
cases=(
  "tarnwick-cli |--help --version burn disks download inspect mkpack "
  "tarnwick-cli d|disks download "
  "tarnwick-cli burn --c|--card-images --config "
  "tarnwick-cli burn --a|--allow-fixed --audit "
  "tarnwick-cli download --s|--simulate-board --size "
  "tarnwick-cli inspect --|--config --help --json --pack "
  "tarnwick-cli burn --config |board.ini sub "
  "tarnwick-cli burn --config=|board.ini sub "
  "tarnwick-cli burn --pack |lab.pack sub "
  "tarnwick-cli mkpack --system |board.ini lab.pack notes.txt sub "
  "tarnwick-cli download --simulate-board |sub "
  "tarnwick-cli burn --size |"
  "tarnwick-cli download --timeout |"
  "tarnwick-cli inspect n|notes.txt "
)
for c in "${cases[@]}"; do
  line=${c%%|*}
  want=${c#*|}
  got=$(complete_line "$line")
  [ "$got" = "$want" ] || fail "completing '$line': offered '$got', expected '$want'"
done

# --target offers files, and the disks of this machine that exist.
got=$(complete_line "tarnwick-cli burn --target ")
[[ $got == *"lab.pack "* && $got == *"sub "* ]] || fail "--target offers no files: '$got'"
for disk in /dev/sd[a-z] /dev/mmcblk[0-9]; do
  [ -b "$disk" ] || continue
  [[ $got == *"$disk "* ]] || fail "--target does not offer $disk: '$got'"
done

# Each command's options are the ones its help names.
for cmd in burn download inspect mkpack disks; do
  want=$({ cli_options "$cli" "$cmd"; echo --help; } | sort -u | tr '\n' ' ')
  got=$(complete_line "tarnwick-cli $cmd --")
  [ "$got" = "$want" ] || fail "options of $cmd: completion offers '$got', --help names '$want'"
done

[ "$failures" -eq 0 ]
