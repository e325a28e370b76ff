# One Wine session for a whole step of the test command, sourced by the
# scripts that run Windows programs:
#   . scripts/wine-session.sh; wine_session_start <prefix>; ...; (ended on exit)
# Also what those scripts share: cleaning up on exit (lumo_at_exit) and
# building quietly with the reason shown when it fails (lumo_quietly).
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

# Commands run when the step ends, passes, fails or is interrupted, the
# last registered first. A script registers its own cleaning up here rather
# than with a trap of its own, which a later one would replace.
lumo_exit_commands=()
lumo_at_exit() {
  lumo_exit_commands=("$1" "${lumo_exit_commands[@]}")
  trap lumo_run_exit_commands EXIT
  trap 'lumo_run_exit_commands; exit 130' INT
  trap 'lumo_run_exit_commands; exit 143' TERM
}
lumo_run_exit_commands() {
  local command
  for command in "${lumo_exit_commands[@]}"; do
    eval "$command" || true
  done
  lumo_exit_commands=()
}
lumo_wine_session_registered=

wine_session_end() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

# wine_session_start <prefix> [<path COM1 leads to>]
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
  # Wine links its COM ports as the registry says when its server starts.
  if [ -n "${2:-}" ]; then
    "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$2" /f >/dev/null 2>&1
    "$WINESERVER" -w
  fi
  # The server writes a dump of its objects when it is ended: kept aside.
  "$WINESERVER" -p >"$WINEPREFIX/wineserver.log" 2>&1
  "$WINE" wineboot </dev/null >/dev/null 2>&1
  if [ -z "$lumo_wine_session_registered" ]; then
    lumo_wine_session_registered=1
    lumo_at_exit wine_session_end
  fi
}

# lumo_quietly <log> <command...>: runs the command with its output in the
# log; when it fails, the end of the log and where the whole of it is.
lumo_quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "failed: $*; the whole output is $log" >&2
    return 1
  fi
}

# wine_ctest <build directory> <name>: runs the build's tests (one Wine
# process per executable), prints one line of counts; on failure the cases
# that failed and where the whole output is.
wine_ctest() {
  local build=$1 name=$2 log=$1/ctest.txt
  if ! ctest --test-dir "$build" -V -j"$(nproc)" > "$log" 2>&1; then
    grep -a -E 'wine-test:|\[  FAILED  \]|Failed|Timeout|tests passed' "$log" >&2 || cat "$log" >&2
    echo "$name: tests failed under Wine; the whole output is $log" >&2
    return 1
  fi
  # GoogleTest ends each executable's output with "[  PASSED  ] N tests."
  # and, when some were skipped, "[  SKIPPED ] N tests, listed below:".
  local passed skipped executables
  # A count of none is no failure (grep's status is not the step's).
  passed=$(awk '/^[0-9]+: \[  PASSED  \] [0-9]+ tests?\./ {s += $5} END {print s + 0}' "$log")
  skipped=$(awk '/^[0-9]+: \[  SKIPPED \] [0-9]+ tests?,/ {s += $5} END {print s + 0}' "$log")
  executables=$(awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .* Passed/ {n++} END {print n + 0}' "$log")
  echo "$name: $executables test executables, $passed cases passed, $skipped skipped, under Wine"
}
