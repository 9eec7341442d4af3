#!/usr/bin/env bash
# Builds the project and runs the main job: olvaro --headless answering calls
# on the sample flow, under simulated access, with the file database. The
# flow is compiled by flowdesigner from the sample project samples/flows/sample.src.
# It prepares build/sample-run/ (configuration, flow, voices, database), starts
# the runtime and places one demonstration call with keycall. Ctrl-C ends it.
#   --no-demo     start the runtime without placing the demonstration call
#   --telephone   telephone access instead: the virtual voice box inside olvaro
#                 takes the call, rung and keyed with the voicebox tool over
#                 $PARVANE_CONTROL (default build/sample-run/box.sock)
#   --sip         SIP access instead ([System] callintype=2, port 5070 on
#                 127.0.0.1): the demonstration call is placed by baresip
set -euo pipefail
cd "$(dirname "$0")/.."
demo=1
telephone=0
sip=0
for a in "$@"; do
  case "$a" in
    --no-demo) demo=0 ;;
    --telephone) telephone=1 ;;
    --sip) sip=1 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-sample.sh: unknown option '$a' (try --help)" >&2; exit 2 ;;
  esac
done

cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
# sample_cpl compiles samples/flows/sample.src with flowdesigner.
cmake --build build/debug -j"$(nproc)" --target olvaro keycall voicebox cpldump sample_cpl
bin=$PWD/build/debug

run=build/sample-run
mkdir -p "$run/flows" "$run/voice"
if [ "$telephone" -eq 1 ] && [ "$sip" -eq 1 ]; then
  echo "run-sample.sh: --telephone and --sip are two kinds of access; choose one" >&2
  exit 2
fi
if [ "$telephone" -eq 1 ]; then
  cp samples/sysconfig-telephone.ini "$run/sysconfig.ini"
elif [ "$sip" -eq 1 ]; then
  cp samples/sysconfig-sip.ini "$run/sysconfig.ini"
else
  cp samples/sysconfig.ini "$run/"
fi
cp build/debug/samples/flows/sample.cpl "$run/flows/"
cp samples/voice/*.voc samples/voice/*.qx "$run/voice/"
bash samples/db/make_db.sh "$run/ivr.sqlite"
port=$(sed -n 's/^keycallport=//p' "$run/sysconfig.ini")

if [ "$telephone" -eq 1 ]; then
  export PARVANE_CONTROL=${PARVANE_CONTROL:-$PWD/$run/box.sock}
  echo "sample: runtime on the voice box in $run; ring it with"
  echo "  PARVANE_CONTROL=$PARVANE_CONTROL $bin/tools/voicebox ring 0 13900001111"
  echo "  PARVANE_CONTROL=$PARVANE_CONTROL $bin/tools/voicebox keys 0 '#'   (and hangup 0)"
  echo "sample: Ctrl-C stops it"
  if [ "$demo" -eq 1 ]; then
    (
      vb() { "$bin/tools/voicebox" "$@" >/dev/null; }
      sleep 1.5
      vb ring 0 13900001111   # answered once the caller ID came, then welcome
      sleep 4; vb keys 0 2    # menu: 2 records a message
      sleep 3; vb keys 0 '#'  # the recording ends; script "tally", then good-bye
    ) &
  fi
  cd "$run"
  exec "$bin/runtime/olvaro" --headless
fi

if [ "$sip" -eq 1 ]; then
  sipport=$(sed -n 's/^port=//p' "$run/sysconfig.ini")
  echo "sample: runtime answering SIP on 127.0.0.1:$sipport in $run; call it with"
  echo "  baresip -e '/dial sip:8888@127.0.0.1:$sipport'"
  echo "sample: Ctrl-C stops it"
  if [ "$demo" -eq 1 ]; then
    if ! command -v baresip >/dev/null || ! command -v sox >/dev/null; then
      echo "sample: baresip or sox is not installed (scripts/setup.sh installs them): no demonstration call" >&2
    else
      # A caller of its own: a 700 Hz voice, what it hears kept as wave
      # files in $run/baresip/heard/, keys given through its console port.
      b=$PWD/$run/baresip
      mkdir -p "$b/heard"
      freeport() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
      own=$(freeport) cons=$(freeport)
      sox -n -r 8000 -c 1 -b 16 "$b/caller.wav" synth 20 sine 700 vol 0.5
      cat > "$b/config" <<EOF_CONFIG
sip_listen 127.0.0.1:$own
net_interface 127.0.0.1
module_path /usr/lib/baresip/modules
module stdio.so
module g711.so
module aufile.so
module account.so
module menu.so
module cons.so
module sndfile.so
audio_source aufile,$b/caller.wav
snd_path $b/heard
cons_listen 127.0.0.1:$cons
EOF_CONFIG
      echo "<sip:demo@127.0.0.1:$own>;regint=0;audio_codecs=PCMA" > "$b/accounts"
      (
        key() { printf '%s' "$1" > "/dev/udp/127.0.0.1/$cons"; }
        sleep 1
        baresip -f "$b" -e "/dial sip:8888@127.0.0.1:$sipport" -t 20 \
          </dev/null >"$b/baresip.log" 2>&1 &
        sleep 3; key 2     # after the welcome, menu: 2 records a message
        sleep 3; key '#'   # the recording ends; script "tally", then good-bye
      ) &
    fi
  fi
  cd "$run"
  exec "$bin/runtime/olvaro" --headless
fi

echo "sample: runtime in $run; place calls with"
echo "  $bin/tools/keycall --port $port call 0 13900001111"
echo "  $bin/tools/keycall --port $port key 0 '#'      (and hangup 0)"
echo "sample: Ctrl-C stops it"

if [ "$demo" -eq 1 ]; then
  (
    kc() { "$bin/tools/keycall" --port "$port" "$@" >/dev/null; }
    sleep 1
    kc call 0 13900001111   # welcome, cut short by #
    sleep 0.6; kc key 0 '#'
    sleep 0.8; kc key 0 2   # menu: 2 records a message
    sleep 2.5; kc key 0 '#' # the recording ends; script "tally", then good-bye
  ) &
fi
cd "$run"
exec "$bin/runtime/olvaro" --headless
