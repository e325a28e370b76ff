# One Wine session for a whole step of the test command, sourced by the
# scripts that run Windows programs:
#   . scripts/wine-session.sh; wine_session_start <prefix>; ...; (ended on exit)
#
# The prefix is made first and left to settle; then one persistent
# wineserver serves every Windows process of the step until the step ends,
# passes, fails or is interrupted. A wineserver that stops after its last
# client leaves races with the next client starting ("wine client error:0:
# recvmsg: Connection reset by peer"), so it is never left to stop by itself.
# Its first program starts Wine's services, which live as long as the
# server and keep the standard output they were given: they are started here
# on /dev/null, or the first test's output pipe would never close.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

wine_session_end() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

wine_session_start() {
  export WINEPREFIX=$1 WINEDEBUG=-all
  # No menu entries on the Linux desktop from Windows shortcuts, and no
  # search for Wine's .NET and HTML engines, which nothing here uses.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
  mkdir -p "$WINEPREFIX"
  wine_session_end
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot --init >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
  "$WINESERVER" -p
  "$WINE" wineboot </dev/null >/dev/null 2>&1
  trap wine_session_end EXIT
  trap 'wine_session_end; exit 130' INT
  trap 'wine_session_end; exit 143' TERM
}
