#!/usr/bin/env bash
# Starts or stops the dummy JACK server that the integration tests share.
#   jack_server.sh start STATE   start "jackd -d dummy" under a name of its own and
#                                write "name pid" to STATE
#   jack_server.sh stop STATE    stop the server named in STATE
# No realtime privileges and no D-Bus session are needed.
set -uo pipefail
action=$1
state=$2

case "$action" in
start)
  # A repeated run (ctest --repeat) starts the fixture again: stop the last server
  # first, so none is left behind.
  "$0" stop "$state" >/dev/null
  name="pelrow-test-$$"
  export JACK_NO_AUDIO_RESERVATION=1
  # Synchronous mode: a slow client (the Python peer) makes the dummy clock wait
  # instead of missing periods, so nothing is lost on the test's side of the cable.
  jackd --no-realtime --sync -n "$name" -d dummy -r 48000 -p 256 >"$state.log" 2>&1 &
  pid=$!
  if ! jack_wait -s "$name" -w -t 10 >/dev/null; then
    echo "jack_server: jackd did not come up; its output:"
    cat "$state.log"
    kill "$pid" 2>/dev/null
    exit 1
  fi
  echo "$name $pid" >"$state"
  echo "jack_server: started $name (pid $pid)"
  ;;
stop)
  [ -f "$state" ] || exit 0
  read -r name pid <"$state"
  kill "$pid" 2>/dev/null
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
  rm -f "$state"
  echo "jack_server: stopped $name"
  ;;
*)
  echo "usage: jack_server.sh start|stop STATE"
  exit 2
  ;;
esac
