#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix. The prefix is made once
# (under a lock, since tests may start together); a persistent wineserver keeps each run short.
# Whoever started the runs stops the server with `wineserver -k` when they are done.
set -eu
: "${WINEPREFIX:?set WINEPREFIX to the private prefix of the build tree}"
export WINEPREFIX
export WINEDEBUG=-all
# Wine reads its DLL overrides only from the Unix environment a run starts in, so a test that needs
# more (WINE_EXTRA_DLL_OVERRIDES) has them added here.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINE_EXTRA_DLL_OVERRIDES:+;$WINE_EXTRA_DLL_OVERRIDES}"
if [ ! -f "$WINEPREFIX/.initialised" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.initialised" ]; then
      wineboot -i </dev/null >/dev/null 2>&1
      touch "$WINEPREFIX/.initialised"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# The server must not inherit our output: it would hold the caller's pipe open after we exit.
wineserver -p </dev/null >/dev/null 2>&1 || true
# Wine starts its background services with the first program; they too must not hold our output, so
# a throwaway program with no output of its own starts them.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
