#!/bin/sh
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Runs Windows programs under Wine for the tests, in the prefix WINEPREFIX, with the
# loader WINE (wine, or wine64 for 64-bit programs where Wine's 32-bit loader cannot
# run): `start` boots the prefix and starts the persistent server that every run
# shares, `run PROGRAM [ARGUMENT...]` runs one program, `stop` stops the server.
set -u
# Quiet, and without Mono, Gecko and menu entries: the program needs none, and a new
# prefix would otherwise spend its first boot trying to install them.
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d
wine=${WINE:-wine}
# Debian keeps the 64-bit loader out of PATH.
if ! command -v "$wine" >/dev/null && test -x "/usr/lib/wine/$wine"; then
  wine=/usr/lib/wine/$wine
fi
if ! command -v "$wine" >/dev/null || ! command -v wineserver >/dev/null; then
  echo "Wine is not installed: the tests of the Windows build need it" \
    "(Debian: dpkg --add-architecture i386, then apt-get install wine wine32:i386)" >&2
  exit 1
fi
case "${1:-}" in
start)
  # -k returns before the old server has gone; -w waits for that.
  wineserver -k 2>/dev/null
  wineserver -w
  mkdir -p "$WINEPREFIX" || exit 1
  # The server and the services Wine boots outlive this script, so they get a log
  # of their own: the test runner waits until nothing holds this script's output.
  log="$WINEPREFIX/start.log"
  # A new prefix's first boot goes on long after wineboot -i returns: installers,
  # then the services stopped and started again, half a minute later. A program
  # started meanwhile could find no standard output and print nothing. So the
  # first boot runs to its end under a server of its own (-w returns once its last
  # process and the server have exited), and only then the persistent server
  # starts, with a plain boot of the prepared prefix that has nothing to install.
  if ! {
    { test -f "$WINEPREFIX/system.reg" || { "$wine" wineboot -i && wineserver -w; }; } &&
      wineserver -p && "$wine" wineboot
  } >"$log" 2>&1 </dev/null; then
    cat "$log"
    exit 1
  fi
  ;;
run)
  shift
  exec "$wine" "$@"
  ;;
stop) wineserver -k ;;
*) echo "usage: $0 start|run PROGRAM [ARGUMENT...]|stop" >&2; exit 2 ;;
esac
