# shellcheck shell=bash
# Sourced by scripts/test-windows, which calls test_installed_program once its Wine prefix,
# ports and simulator are up: installs the packaged program silently, drives the installed
# window with real X input, then uninstalls it. Uses the caller's WINEPREFIX, LOGS,
# SIM_PORT, KV58_TEST_NETWORK_PORTS, pids, fail and wine_quiet, and runs under its
# set -euo pipefail.
#
# What a user does: types the simulator's port into the PORT box, ticks the connect box and
# presses "Zapisz" (store); then unticks it and does the same with an rfc2217:// address of a
# simulator behind ser2net, and with the address of the installed kv58-sim.exe. Each
# simulator must report the store command, the program must end with 0 when its window is
# closed, and the uninstaller must leave nothing behind. The installed kv58.exe updates a
# fleet of two installed simulators, and the simulator's Start-menu shortcut must start one
# that answers as a device server on 127.0.0.1:4001.

readonly PRODUCT_DIR="Program Files/KV-58 Scroll Controller"
readonly SHORTCUT_NAME="KV-58 Scroll Controller.lnk" # in the Start menu, whose folder names Wine translates
readonly SIM_SHORTCUT_NAME="KV-58 simulator.lnk"
readonly SHORTCUT_SIM_PORT=4001 # where the shortcut's simulator listens, over RFC 2217
# The fleet's text: every byte the display takes, 0xFF (doubled over Telnet) and CR among them.
readonly FLEET_TEXT='Witaj\xff\r\nna dworcu'
readonly FLEET_TEXT_EVENT='"event":"text","bytes":17,"text":"Witaj\u00ff\r\nna dworcu"'
readonly UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kv58-controller'
readonly WINDOW_TITLE="KV - 58 Scroll controller"
# Where the controls sit in the window's client area, in pixels: the PORT box, the connect
# box and the store button.
readonly PORT_BOX=(70 54) CONNECT_BOX=(80 13) STORE_BUTTON=(337 317)
readonly CLIENT_WIDTH=393 CLIENT_HEIGHT=584

# Clicks at a point of the window's client area. Wine draws the frame itself when there is
# no window manager, so the client area is found from the window's size: borders left and
# right alike, the caption on top.
click_in_window() {
  local window=$1 x=$2 y=$3 geometry width height border caption
  geometry=$(xdotool getwindowgeometry --shell "$window")
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  border=$(((width - CLIENT_WIDTH) / 2))
  caption=$((height - CLIENT_HEIGHT - border))
  xdotool mousemove --window "$window" $((border + x)) $((caption + y)) click 1
}

# Types `port` into the window's port box, ticks the connect box and clicks the store button.
connect_and_store() {
  local window=$1 port=$2
  click_in_window "$window" "${PORT_BOX[@]}"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 50 "$port"
  click_in_window "$window" "${CONNECT_BOX[@]}"
  sleep 1
  click_in_window "$window" "${STORE_BUTTON[@]}"
}

# Stores through `port`; true once the simulator's log `log` has one more store than before.
store_through_port() {
  local window=$1 port=$2 log=$3 before
  before=$(grep -c '"event":"store"' "$log" || true) # grep -c fails when it counts 0
  connect_and_store "$window" "$port"
  for _ in $(seq 50); do
    [ "$(grep -c '"event":"store"' "$log")" -gt "$before" ] && return 0
    sleep 0.1
  done
  import -window root "$LOGS/installed-program.png" 2>/dev/null || true # only to explain a failure
  return 1
}

# Starts the installed kv58-sim.exe listening on a free port over RFC 2217, its JSON lines
# in `log`; prints the address once it listens.
start_installed_simulator() {
  local program_dir=$1 log=$2 url
  (cd "$program_dir" && exec timeout 300 wine kv58-sim.exe --json --listen rfc2217://127.0.0.1:0 </dev/null \
    >"$log" 2>"$log.err") &
  pids+=($!)
  for _ in $(seq 200); do
    url=$(sed -n 's/.*"event":"listening","url":"\([^"]*\)".*/\1/p' "$log")
    [ -n "$url" ] && break
    sleep 0.1
  done
  [ -n "$url" ] || fail "the installed kv58-sim.exe does not listen: $(cat "$log.err")"
  echo "$url"
}

# The installed kv58.exe sends a text and a store to two installed simulators at once; each
# must log the text byte for byte, then the store.
fleet_reaches_installed_simulators() {
  local program_dir=$1 text="$LOGS/fleet-text.txt" log
  shift
  printf '%b' "$FLEET_TEXT" >"$text"
  (cd "$program_dir" && timeout 120 wine kv58.exe --port "$1" --port "$2" send "$(windows_path "$text")" store \
    </dev/null >"$LOGS/fleet.log" 2>&1) || fail "kv58.exe did not update the two simulators: $(cat "$LOGS/fleet.log")"
  for log in "$LOGS/installed-sim1.jsonl" "$LOGS/installed-sim2.jsonl"; do
    if ! grep -qF "$FLEET_TEXT_EVENT" "$log" || ! grep -q '"event":"store"' "$log"; then
      fail "a simulator did not get the fleet's text and store; its log: $(cat "$log")"
    fi
  done
}

# Starts the simulator as its Start-menu shortcut does, in a console of its own, and waits
# until 127.0.0.1:4001 greets like a device server: the Telnet IAC (0xFF) of its offers.
start_simulator_from_shortcut() {
  local shortcut=$1 first
  (exec 3<>"/dev/tcp/127.0.0.1/$SHORTCUT_SIM_PORT") 2>/dev/null &&
    fail "something already listens on 127.0.0.1:$SHORTCUT_SIM_PORT, where the shortcut's simulator would"
  wine_quiet wine start /unix "$shortcut" || fail "the simulator's shortcut does not start"
  for _ in $(seq 100); do
    first=$(timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$SHORTCUT_SIM_PORT && head -c 1 <&3 | od -An -tx1" 2>/dev/null) || true
    [ "${first// /}" = ff ] && return 0
    sleep 0.2
  done
  fail "the simulator's shortcut started nothing that answers on 127.0.0.1:$SHORTCUT_SIM_PORT"
}

test_installed_program() {
  local setup=$1 prefix_dir="$WINEPREFIX/drive_c" window program status network_port sim_shortcut sim_urls=()
  # Wine's desktop process picks its display driver when the server starts: restart the
  # server on a display, warm, as for the tests.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  kv58_start_xvfb "$LOGS/xvfb.log" || fail "no virtual display"
  pids+=("$KV58_XVFB_PID")
  wineserver -p
  wine_quiet wine cmd /c exit || fail "Wine does not start on the display $DISPLAY; see $LOGS/wine.log"

  kv58_log "Installing $(basename "$setup") silently"
  wine_quiet wine "$setup" /S || fail "the silent install failed"
  [ -f "$prefix_dir/$PRODUCT_DIR/kv58-controller.exe" ] || fail "the installer put no kv58-controller.exe in $PRODUCT_DIR"
  [ -f "$prefix_dir/$PRODUCT_DIR/lang.txt" ] || fail "the installer put no lang.txt beside the program"
  [ -f "$prefix_dir/$PRODUCT_DIR/kv58-sim.exe" ] || fail "the installer put no kv58-sim.exe in $PRODUCT_DIR"
  [ -n "$(find "$prefix_dir/ProgramData" -name "$SHORTCUT_NAME")" ] || fail "the installer made no Start-menu shortcut"
  sim_shortcut=$(find "$prefix_dir/ProgramData" -name "$SIM_SHORTCUT_NAME" | head -n1)
  [ -n "$sim_shortcut" ] || fail "the installer made no Start-menu shortcut \"${SIM_SHORTCUT_NAME%.lnk}\""
  wine_quiet wine reg query "$UNINSTALL_KEY" /v UninstallString || fail "no uninstaller registered in Add/Remove Programs"

  kv58_log "Starting the installed program and storing the settings through $SIM_PORT"
  (cd "$prefix_dir/$PRODUCT_DIR" && exec timeout 120 wine kv58-controller.exe </dev/null >"$LOGS/controller.log" 2>&1) &
  program=$!
  pids+=("$program")
  # Searched again and again rather than with --sync: a search ends with an X error
  # (BadWindow) when a window Wine makes while starting vanishes under it.
  window=""
  for _ in $(seq 120); do
    window=$(xdotool search --onlyvisible --name "^$WINDOW_TITLE\$" 2>/dev/null | head -n1) || true
    [ -n "$window" ] && break
    sleep 0.5
  done
  [ -n "$window" ] || fail "the installed program showed no window titled \"$WINDOW_TITLE\""

  store_through_port "$window" "$SIM_PORT" "$LOGS/sim.jsonl" ||
    fail "the simulator received no store command from the installed program (screenshot: $LOGS/installed-program.png)"
  click_in_window "$window" "${CONNECT_BOX[@]}" # unticked: the port is closed
  network_port=${KV58_TEST_NETWORK_PORTS%% *}
  kv58_log "Storing the settings through $network_port (ser2net)"
  store_through_port "$window" "$network_port" "$LOGS/network-sim1.jsonl" ||
    fail "the simulator behind ser2net received no store command from the installed program (screenshot: $LOGS/installed-program.png)"

  kv58_log "Updating two installed simulators with the installed kv58.exe"
  sim_urls+=("$(start_installed_simulator "$prefix_dir/$PRODUCT_DIR" "$LOGS/installed-sim1.jsonl")")
  sim_urls+=("$(start_installed_simulator "$prefix_dir/$PRODUCT_DIR" "$LOGS/installed-sim2.jsonl")")
  fleet_reaches_installed_simulators "$prefix_dir/$PRODUCT_DIR" "${sim_urls[@]}"
  click_in_window "$window" "${CONNECT_BOX[@]}"
  kv58_log "Storing the settings through ${sim_urls[0]} (the installed simulator)"
  store_through_port "$window" "${sim_urls[0]}" "$LOGS/installed-sim1.jsonl" ||
    fail "the installed simulator received no store command from the installed program (screenshot: $LOGS/installed-program.png)"
  click_in_window "$window" "${CONNECT_BOX[@]}"

  kv58_log "Starting the simulator from its Start-menu shortcut and connecting to it"
  start_simulator_from_shortcut "$sim_shortcut"
  connect_and_store "$window" "rfc2217://127.0.0.1:$SHORTCUT_SIM_PORT"
  sleep 1
  import -window root "$LOGS/simulator-console.png" 2>/dev/null || true # what a user sees, for the record

  xdotool key --window "$window" alt+F4
  status=0
  wait "$program" || status=$?
  [ "$status" -eq 0 ] || fail "the installed program ended with $status after its window was closed"
  # The simulators still run from the installation folder: end every program of the prefix.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p

  kv58_log "Uninstalling silently"
  wine_quiet wine "$prefix_dir/$PRODUCT_DIR/uninstall.exe" /S || fail "the silent uninstall failed"
  # The uninstaller runs from a copy of itself and returns at once: wait for its work.
  for _ in $(seq 100); do
    [ -e "$prefix_dir/$PRODUCT_DIR" ] || break
    sleep 0.1
  done
  [ ! -e "$prefix_dir/$PRODUCT_DIR" ] || fail "the uninstaller left $(find "$prefix_dir/$PRODUCT_DIR" | head -n5)"
  [ -z "$(find "$prefix_dir/ProgramData" -name "$SHORTCUT_NAME")" ] || fail "the uninstaller left the Start-menu shortcut"
  [ -z "$(find "$prefix_dir/ProgramData" -name "$SIM_SHORTCUT_NAME")" ] || fail "the uninstaller left the simulator's shortcut"
  ! wine_quiet wine reg query "$UNINSTALL_KEY" || fail "the uninstaller left its Add/Remove Programs entry"
  kv58_log "The installed program stored the settings through $SIM_PORT, $network_port and the installed simulator, kv58.exe updated two simulators, the simulator's shortcut served, and all was uninstalled"
}
