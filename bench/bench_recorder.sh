#!/usr/bin/env bash
# CPU share of one core taken by the whole recorder process while it records eight stations at
# 128 kbit/s in real time, read from the process's own accounting (/proc/PID/stat utime+stime).
#
# The inputs are eight null sinks of a private PulseAudio daemon, one per station, each fed
# white noise at a quarter of full scale (a hard signal for the encoder: every band is busy);
# the stations capture the sinks' monitors through ALSA's pulse plugin, paced at the real rate.
# The window of measurement starts once every station's file holds audio, so it is the steady
# recording and not the start-up.
#
# Usage: bench/bench_recorder.sh [build folder] (default: build beside this script's folder)
# Environment: SECONDS_MEASURED (default 60), STATIONS (default 8), NOISE_VOLUME (pacat volume
# of the noise, 0..65536, default 16384; 0 records digital silence).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
recorder="$build/recorder/recorder"
measured="${SECONDS_MEASURED:-60}"
stations="${STATIONS:-8}"
[ -x "$recorder" ] || { echo "no recorder at $recorder (build first)" >&2; exit 1; }
for p in pulseaudio pactl pacat parec arecord; do
  command -v "$p" >/dev/null || { echo "$p missing: run scripts/setup.sh" >&2; exit 1; }
done

work="$(mktemp -d /tmp/benchrec-XXXXXX)"
pulse_pid=""
recorder_pid=""
feeder_pids=()
cleanup() {
  # Only what this script started, by its id.
  [ -n "$recorder_pid" ] && kill -KILL "$recorder_pid" 2>/dev/null || true
  for p in "${feeder_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -m 700 -p "$work/pulse-run" "$work/pulse-home" "$work/run" "$work/home" "$work/install"
socket="$work/pulse-run/native"
{
  for n in $(seq 1 "$stations"); do
    echo "load-module module-null-sink sink_name=st$n rate=44100 channels=2"
  done
  echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$socket"
} >"$work/default.pa"
for n in $(seq 1 "$stations"); do
  printf 'pcm.st%sin {\n  type pulse\n  device "st%s.monitor"\n  hint {\n    show on\n    description "Station %s input"\n  }\n}\n' "$n" "$n" "$n"
done >"$work/asoundrc"

# A per-user daemon even for root (--system=no), with everything of its own in the work folder.
HOME="$work/pulse-home" XDG_CONFIG_HOME="$work/pulse-home/.config" \
  XDG_RUNTIME_DIR="$work/pulse-run" PULSE_RUNTIME_PATH="$work/pulse-run" \
  PULSE_STATE_PATH="$work/pulse-home/state" \
  pulseaudio --daemonize=no --system=no --exit-idle-time=-1 --realtime=no --high-priority=no \
  --use-pid-file=no -n -F "$work/default.pa" --log-target=stderr 2>"$work/pulseaudio.log" &
pulse_pid=$!
export PULSE_SERVER="unix:$socket"
for _ in $(seq 1 100); do
  HOME="$work/pulse-home" pactl info >/dev/null 2>&1 && break
  sleep 0.2
done
HOME="$work/pulse-home" pactl info >/dev/null 2>&1 || {
  echo "PulseAudio did not start:" >&2
  cat "$work/pulseaudio.log" >&2
  exit 1
}
# A null sink without a low-latency listener renders up to two seconds ahead, in blocks that a
# stream connecting just after them never receives: a listener per monitor keeps blocks small.
for n in $(seq 1 "$stations"); do
  HOME="$work/pulse-home" parec --device="st$n.monitor" --latency-msec=20 --raw >/dev/null \
    2>>"$work/parec.log" &
  feeder_pids+=($!)
done
for n in $(seq 1 "$stations"); do
  HOME="$work/pulse-home" pacat --playback --device="st$n" --raw --format=s16le --rate=44100 \
    --channels=2 --volume="${NOISE_VOLUME:-16384}" </dev/urandom 2>>"$work/pacat.log" &
  feeder_pids+=($!)
done

# The recorder's device numbers: its list is the hinted capture PCMs (arecord -L lists those)
# less default, null, the per-card aliases and the converters that only wrap default.
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/asoundrc"
mapfile -t pcms < <(arecord -L | grep -v '^[[:space:]]' |
  grep -Evx 'default|null|lavrate|samplerate|speexrate|speex|upmix|vdownmix|.*:.*')
placa=()
for n in $(seq 1 "$stations"); do
  i=0
  for p in "${pcms[@]}"; do [ "$p" = "st${n}in" ] && break; i=$((i + 1)); done
  [ "$i" -lt "${#pcms[@]}" ] || { echo "st${n}in is not among: ${pcms[*]}" >&2; exit 1; }
  placa+=("$i")
done

section() {  # section name, then one value per station
  local name=$1 n=1
  shift
  printf '[%s]\r\n' "$name"
  for v in "$@"; do printf 'R%s=%s\r\n' "$n" "$v"; n=$((n + 1)); done
}
each() { for n in $(seq 1 "$stations"); do printf '%s\n' "$1"; done; }
mapfile -t locals < <(for n in $(seq 1 "$stations"); do echo "$work/st$n"; done)
mapfile -t zeros < <(each 0)
mapfile -t twos < <(each 2)
mapfile -t noes < <(each N)
mapfile -t empties < <(each '')
{
  printf '[Gravacao]\r\nFormato=8\r\n'
  printf '[Geral]\r\nAutoGravar=S\r\nMB Livres=200\r\nDiasRec=30\r\nTempoRec=10\r\n'
  printf 'Prioridade=N\r\nEmissoras=%s\r\n' "$stations"
  section Local "${locals[@]}"
  section Placa "${placa[@]}"
  section Controle "${zeros[@]}"
  section Canal "${twos[@]}"
  section Copia "${noes[@]}"
  section LocalCopia "${empties[@]}"
  section Emissoras "${empties[@]}"
} >"$work/install/cfg.ini"
for n in $(seq 1 "$stations"); do mkdir -p "$work/st$n"; done
cp "$recorder" "$work/install/recorder"

QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
  "$work/install/recorder" 2>"$work/recorder.log" &
recorder_pid=$!

recording() {
  local n f
  for n in $(seq 1 "$stations"); do
    f=$(find "$work/st$n" -maxdepth 1 -name '??????????.mp3' -size +4k | head -1)
    [ -n "$f" ] || return 1
  done
}
for _ in $(seq 1 300); do recording && break; sleep 0.2; done
recording || { echo "not every station records:" >&2; cat "$work/recorder.log" >&2; exit 1; }

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$recorder_pid/stat"; }
bytes() { cat "$work"/st*/*.mp3 | wc -c; }
# Per thread: the user-interface thread (the process id), the threads named by the pulse
# plugin (its mainloops), and the rest (capture threads, the shared timer).
per_thread() {
  local t
  for t in /proc/"$recorder_pid"/task/*; do
    awk -v tid="${t##*/}" -v pid="$recorder_pid" -v comm="$(cat "$t/comm")" '{
      kind = tid == pid ? "ui" : (comm == "threaded-ml" ? "pulse" : "other")
      print tid, kind, $14 + $15 }' "$t/stat"
  done
}
t0=$(date +%s.%N); c0=$(ticks); b0=$(bytes); per_thread >"$work/threads0"
sleep "$measured"
t1=$(date +%s.%N); c1=$(ticks); b1=$(bytes); per_thread >"$work/threads1"
threads=$(ls "/proc/$recorder_pid/task" | wc -l)
kill -TERM "$recorder_pid"
wait "$recorder_pid" || true
recorder_pid=""

finished=$(find "$work"/st* -name '??????????a??????????.mp3' | wc -l)
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" -v b0="$b0" -v b1="$b1" \
  -v st="$stations" -v vol="${NOISE_VOLUME:-16384}" -v th="$threads" -v fin="$finished" 'BEGIN {
  wall = t1 - t0; cpu = (c1 - c0) / hz
  printf "stations: %d at 128 kbit/s, white noise at pacat volume %d of 65536, %d threads\n", st, vol, th
  printf "wall: %.1f s  cpu (utime+stime): %.2f s  share of one core: %.1f %%\n", wall, cpu, 100 * cpu / wall
  printf "audio written in the window: %.1f s per station (128 kbit/s = 16000 bytes/s)\n", (b1 - b0) / 16000 / st
  printf "finished recordings after SIGTERM: %d of %d\n", fin, st
}'
awk -v hz="$hz" -v wall="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" '
  NR == FNR { before[$1] = $3; next }
  { sum[$2] += $3 - before[$1] }
  END { for (k in sum) printf "  %-5s threads: %.1f %% of one core\n", k, 100 * sum[k] / hz / wall }
' "$work/threads0" "$work/threads1" | sort
