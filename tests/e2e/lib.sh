# Helpers for the real-window scenarios: a private X server (Xvfb), the print service, a
# host installation in a private XDG_CONFIG_HOME, and xdotool driving the windows as a
# person would. Sourced by run-scenario; every helper fails the scenario on its own.

E2E_SKIP=77
e2e_pids=()

fail() {
  echo "FAIL: $*" >&2
  e2e_dump
  exit 1
}

note() { echo "-- $*"; }

# Shows what the run left behind, to make a failure readable.
e2e_dump() {
  local f
  for f in "$work"/*.trace "$work"/*.out "$work"/*.err; do
    [ -s "$f" ] || continue
    echo "==== ${f#"$work"/}" >&2
    tail -n 40 "$f" >&2
  done
}

e2e_cleanup() {
  local pid
  for pid in "${e2e_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${e2e_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  [ -n "${work:-}" ] && rm -rf "$work"
}

# e2e_setup PVPRINT PVHOST GLIMMERPRINTS: checks the tools, makes the private folders.
e2e_setup() {
  pvprint=$1 pvhost=$2 glimmerprints=$3
  if ! command -v Xvfb >/dev/null; then
    echo "SKIP: Xvfb is not installed (Debian package xvfb); the real-window tests need it"
    exit $E2E_SKIP
  fi
  local tool
  for tool in xdotool convert sqlite3 curl; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
  done
  for tool in "$pvprint" "$pvhost" "$glimmerprints"; do
    [ -x "$tool" ] || fail "not built: $tool"
  done

  work=$(mktemp -d "${TMPDIR:-/tmp}/pv-e2e.XXXXXX")
  trap e2e_cleanup EXIT
  mkdir -p "$work/config" "$work/runtime" "$work/bin" "$work/pictures" "$work/data"
  chmod 700 "$work/runtime"
  export XDG_CONFIG_HOME=$work/config
  export XDG_RUNTIME_DIR=$work/runtime
  export HOME=$work
  export TMPDIR=$work
  unset QT_QPA_PLATFORM
  lock_file=$XDG_RUNTIME_DIR/Pictorvale_Export_Plugin_Mutex.lock
  settings_file=$XDG_CONFIG_HOME/pictorvale/pvprint.ini

  # The account page goes to this stand-in, never to a real browser.
  cat > "$work/bin/browser" <<STUB
#!/bin/sh
printf '%s\n' "\$1" > "$work/browser.tmp" && mv "$work/browser.tmp" "$work/browser.url"
STUB
  chmod 755 "$work/bin/browser"
}

# Starts Xvfb on a display it picks itself; sets DISPLAY.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.out" 2>"$work/xvfb.err" &
  e2e_pids+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$work/display")"
  note "Xvfb on $DISPLAY"
}

# Starts glimmerprints on a free port; sets service (127.0.0.1:PORT) and service_pid.
start_service() {
  "$glimmerprints" --listen 127.0.0.1:0 --data "$work/data" >"$work/service.out" 2>"$work/service.err" &
  service_pid=$!
  e2e_pids+=($service_pid)
  local i line=""
  for i in $(seq 100); do
    line=$(head -n 1 "$work/service.out" 2>/dev/null || true)
    [ -n "$line" ] && break
    sleep 0.1
  done
  case $line in
    "listening on http://"*) service=${line#listening on http://} ;;
    *) fail "glimmerprints did not say where it listens: '$line'" ;;
  esac
  note "glimmerprints on $service"
}

stop_service() {
  kill "$service_pid"
  wait "$service_pid" 2>/dev/null || true
}

# install_host LETTER SERVICE
install_host() {
  "$pvhost" install --language "$1" --service "$2" --browser "$work/bin/browser" --tool "$pvprint" \
    >"$work/install.out" 2>&1 || fail "pvhost install failed: $(cat "$work/install.out")"
}

# make_pictures N: N small JPEG pictures, each different; sets pictures=(...).
make_pictures() {
  pictures=()
  local i
  for i in $(seq "$1"); do
    convert -size 320x240 "gradient:#$((i * 3))0a0ff-#ffd0$((i * 2))0" -fill black -pointsize 40 \
      -gravity center -annotate 0 "Picture $i" "$work/pictures/picture-$i.jpg"
    pictures+=("$work/pictures/picture-$i.jpg")
  done
}

# order NAME [pvhost order options...]: places an order in the background, the tool's trace
# in NAME.trace and pvhost's report in NAME.out; sets order_pid.
order() {
  local name=$1
  shift
  PVPRINT_TRACE="$work/$name.trace" "$pvhost" order --tool "$pvprint" --export-dir "$work/export-$name" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  order_pid=$!
  e2e_pids+=($order_pid)
}

# control_file NAME: the control file pvhost wrote for the order NAME.
control_file() {
  local i path=""
  for i in $(seq 100); do
    path=$(sed -n 's/^control file: //p' "$work/$1.out" 2>/dev/null)
    [ -n "$path" ] && break
    sleep 0.1
  done
  [ -n "$path" ] || fail "pvhost did not name the control file of order $1"
  echo "$path"
}

# wait_order PID [SECONDS]: waits for pvhost order to end; sets order_status.
wait_order() {
  local pid=$1 limit=${2:-30} i
  for i in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "the order process $pid is still running after ${limit}s"
  order_status=0
  wait "$pid" || order_status=$?
}

# window NAME_REGEX: the visible windows whose title matches, one id a line (maybe none).
windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

# wait_window NAME_REGEX [SECONDS]: prints the id of the first visible window with a
# matching title once there is one.
wait_window() {
  local regex=$1 limit=${2:-20} i id
  for i in $(seq $((limit * 10))); do
    id=$(windows "$regex" | head -n 1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  fail "no window titled /$regex/ within ${limit}s"
}

# press WINDOW KEY...: gives the window the keyboard and presses the keys.
press() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" >/dev/null 2>&1 || xdotool windowfocus "$id"
  xdotool key --clearmodifiers --delay 30 "$@"
}

# type_text WINDOW TEXT
type_text() {
  xdotool windowfocus --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1"
  xdotool type --clearmodifiers --delay 15 "$2"
}

# close_boxes PID: presses Enter on each message box (titled "pvprint") until the process
# PID has ended; prints how many boxes it closed.
close_boxes() {
  local pid=$1 count=0 i id
  for i in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    id=$(windows '^pvprint$' | head -n 1)
    if [ -n "$id" ]; then
      press "$id" Return
      count=$((count + 1))
      # Wait for this box to go before looking for the next.
      while windows '^pvprint$' | grep -qx "$id"; do sleep 0.05; done
    else
      sleep 0.1
    fi
  done
  echo "$count"
}

# expect_trace NAME LINE: the order NAME's tool wrote LINE (exactly) into its trace.
expect_trace() {
  grep -qxF -- "$2" "$work/$1.trace" 2>/dev/null || fail "the tool did not show: $2"
}

# expect_no_trace NAME PREFIX: no trace line of the order NAME starts with PREFIX.
expect_no_trace() {
  if grep -q "^$2" "$work/$1.trace" 2>/dev/null; then fail "unexpected: $(grep "^$2" "$work/$1.trace" | head -n 1)"; fi
}

expect_eq() {  # expect_eq WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

db() { sqlite3 -batch -noheader "$work/data/glimmerprints.db" "$1"; }
