#!/bin/sh
# run-under-wine.sh PREFIX [PROGRAM [ARGUMENTS...]]
# Runs a Windows program under Wine, headless and quiet, in the Wine prefix
# PREFIX, which is made on first use (with no program: only that).
#
# The prefix is made once, under a lock: two Wine processes racing to create
# one can spoil it. It is booted with its standard streams on /dev/null and a
# wineserver that stays for a while after its last client: Wine's helper
# processes (services, winedevice, explorer) inherit the streams of the
# process that started them, and ctest waits for the end of a test's output,
# so a test that started them would wait for them to exit. (After 30 s
# without clients the server ends; the next program then starts the helpers
# again and its caller waits a few seconds for them once.)
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No .NET or HTML engine install prompts; a crash ends the program instead of
# starting the debugger.
export WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=d'

ready="$prefix/.tarnwick-ready"
if [ ! -e "$ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -e "$ready" ]; then
      # A server already running (scripts/test-windows keeps one) serves.
      wineserver -p30 </dev/null >/dev/null 2>&1 || true
      wineboot -i </dev/null >/dev/null 2>&1
      touch "$ready"
    fi
  ) 9>"$prefix.lock"
fi

[ $# -gt 0 ] || exit 0
exec wine "$@"
