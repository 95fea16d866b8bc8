#!/bin/sh
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Starts or stops the persistent Wine server that the Windows build's tests share,
# in the prefix named by WINEPREFIX, for the Wine loader named by WINE (by default
# wine). The server and the services Wine boots outlive this script, so they are
# given a log of their own: the test runner waits until nothing holds this script's
# output any more.
set -u
wine=${WINE:-wine}
if ! command -v "$wine" >/dev/null || ! command -v wineserver >/dev/null; then
  echo "Wine is not installed: the tests of the Windows build need it" \
    "(Debian: dpkg --add-architecture i386, then apt-get install wine wine32:i386)"
  exit 1
fi
case "$1" in
start)
  # -k returns before the old server has gone; -w waits for that.
  wineserver -k 2>/dev/null
  wineserver -w
  mkdir -p "$WINEPREFIX" || exit 1
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
stop) wineserver -k ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
