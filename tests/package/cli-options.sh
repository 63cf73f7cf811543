# Sourced by the package checks. cli_options CLI COMMAND: the options a
# command's --help documents, one a line: those in its usage lines, and those
# its text introduces with a value ("--sys-root DIR").
cli_options() {
  "$1" "$2" --help | awk 'NR == 1, /^$/ {print; next} {while (match($0, /--[a-z][a-z-]* [A-Z]+/)) {print substr($0, RSTART, RLENGTH); $0 = substr($0, RSTART + RLENGTH)}}' |
    grep -oE -- '--[a-z][a-z-]*' | sort -u
}
