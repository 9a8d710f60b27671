# Sourced by the build, test and demo scripts: prepares Wine and a virtual display.
#
#   VORKAST_WINE_ROOT  folder of the Wine prefix (default ~/.cache/vorkast-wine). Separate roots
#                      give separate wineservers, so their "VorkastSensors" tables never meet.
#   VORKAST_DISPLAY    X display for Xvfb (default :87).
#
#   VORKAST_I386_RUN   how 32-bit programs run: auto (default: natively where the kernel executes
#                      32-bit x86 code, else emulated where scripts/i386-emulation can work),
#                      native, emulated (even where native would work), none.
#
# Afterwards: WINEPREFIX, WINESERVER, WINEDEBUG and DISPLAY are exported, a persistent
# wineserver runs detached from our stdio (so CTest never waits on its pipe), and
#   VORKAST_I386          native    32-bit programs run here, natively
#                         emulated  they run here, inside scripts/i386-emulation
#                         emulate   they run only inside scripts/i386-emulation: enter it first
#                         none      they cannot run here; VORKAST_I386_WHY says why
#   VORKAST_CAN_RUN_I386  1 where 32-bit programs run here and now (native or emulated), else 0.

export WINEDEBUG=-all
export WINEPREFIX=${VORKAST_WINE_ROOT:-$HOME/.cache/vorkast-wine}/prefix
export WINESERVER=/usr/lib/wine/wineserver64
export DISPLAY=${VORKAST_DISPLAY:-:87}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Xvfb for the dialog tests and screenshots. A socket file alone proves nothing: an X server
# that ended with the machine's last session leaves its socket and lock file in /tmp, and a
# Wine window on that display fails to be created. The lock file names the server's process;
# only a live X server there counts.
vorkast_x_server_alive() {
  local pid
  pid=$(tr -dc '0-9' 2>/dev/null < "/tmp/.X$1-lock") || return 1
  [ -n "$pid" ] && [ -S "/tmp/.X11-unix/X$1" ] && grep -qs '^X' "/proc/$pid/comm"
}
vorkast_display_number=${DISPLAY#:}
vorkast_display_number=${vorkast_display_number%%.*}
if ! vorkast_x_server_alive "$vorkast_display_number"; then
  rm -f "/tmp/.X11-unix/X$vorkast_display_number" "/tmp/.X$vorkast_display_number-lock"
  # A wineserver kept from before belongs to the display that went away: its desktop
  # process would keep drawing there. Start Wine afresh with the new display.
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  (setsid Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &)
  for _ in $(seq 100); do vorkast_x_server_alive "$vorkast_display_number" && break; sleep 0.1; done
  if ! vorkast_x_server_alive "$vorkast_display_number"; then
    echo "wine-env: no X server could be started on display $DISPLAY" >&2
  fi
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  # Without a window manager Wine waits about a second whenever a window is hidden.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1 || true
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
fi

# A persistent server, started with its stdio detached, plus one warm-up process.
(setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &)
/usr/lib/wine/wine64 cmd /c echo </dev/null >/dev/null 2>&1 || true

vorkast_i386_request=${VORKAST_I386_RUN:-auto}
VORKAST_I386_WHY=
if [ "${VORKAST_I386_EMULATED:-0}" = 1 ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    VORKAST_I386=emulated
  else
    VORKAST_I386=none; VORKAST_I386_WHY="the 32-bit Wine loader does not start under emulation"
  fi
elif [ "$vorkast_i386_request" = none ]; then
  VORKAST_I386=none; VORKAST_I386_WHY="VORKAST_I386_RUN=none"
elif [ "$vorkast_i386_request" != emulated ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  VORKAST_I386=native
elif [ "$vorkast_i386_request" = native ]; then
  VORKAST_I386=none; VORKAST_I386_WHY="this kernel cannot execute 32-bit x86 code (and VORKAST_I386_RUN=native)"
elif VORKAST_I386_WHY=$("$(dirname "${BASH_SOURCE[0]}")/i386-emulation" --check 2>&1); then
  VORKAST_I386=emulate
else
  VORKAST_I386=none
  VORKAST_I386_WHY="this kernel cannot execute 32-bit x86 code, and emulating it is not possible: $VORKAST_I386_WHY"
fi
export VORKAST_I386 VORKAST_I386_WHY
if [ "$VORKAST_I386" = native ] || [ "$VORKAST_I386" = emulated ]; then
  export VORKAST_CAN_RUN_I386=1
else
  export VORKAST_CAN_RUN_I386=0
fi
