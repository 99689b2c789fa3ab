#!/usr/bin/env bash
# CPU share of one core taken by the whole recorder process while it records eight stations at
# 128 kbit/s in real time, read from the process's own accounting (/proc/PID/stat utime+stime),
# beside a yardstick measured in the same run on the same inputs: eight ffmpeg recorders
# (ALSA input, libmp3lame at 128 kbit/s), one per station. Then, when bench_window is built,
# the recorder once more with its window shown.
#
# The inputs are eight null sinks of a private PulseAudio daemon, one per station, each fed
# white noise peaking about 12 dB below full scale, a programme's level (a hard signal for the
# encoder: every band is busy; PulseAudio volumes are cubic, so pacat's 41352 of 65536 is
# 0.631³ = 0.251 of the amplitude);
# the stations capture the sinks' monitors through ALSA's pulse plugin, paced at the real rate.
# The window of measurement starts once every station's file holds audio, so it is the steady
# recording and not the start-up.
#
# Usage: bench/bench_recorder.sh [build folder] (default: build beside this script's folder)
# Environment: SECONDS_MEASURED (default 60), STATIONS (default 8), NOISE_VOLUME (pacat volume
# of the noise, 0..65536, default 41352; 0 records digital silence), FFMPEG_INPUT (ffmpeg's
# ALSA input options, default "-sample_rate 44100 -channels 2"), WINDOW_ONLY (1: only the
# window's phases, without the yardstick and the hidden recorder), PHASE_SECONDS (length of
# each of the window's phases, default 10: three rounds of shown and hidden per panel).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
recorder="$build/recorder/recorder"
window_bench="$build/bench/bench_window"
measured="${SECONDS_MEASURED:-60}"
stations="${STATIONS:-8}"
[ -x "$recorder" ] || { echo "no recorder at $recorder (build first)" >&2; exit 1; }
for p in pulseaudio pactl pacat parec arecord ffmpeg; do
  command -v "$p" >/dev/null || { echo "$p missing: run scripts/setup.sh (ffmpeg, the yardstick only: apt-get install ffmpeg)" >&2; exit 1; }
done

work="$(mktemp -d /tmp/benchrec-XXXXXX)"
pulse_pid=""
recorder_pid=""
feeder_pids=()
ffmpeg_pids=()
cleanup() {
  # Only what this script started, by its id.
  [ -n "$recorder_pid" ] && kill -KILL "$recorder_pid" 2>/dev/null || true
  for p in "${ffmpeg_pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
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
    --channels=2 --volume="${NOISE_VOLUME:-41352}" </dev/urandom 2>>"$work/pacat.log" &
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

hz=$(getconf CLK_TCK)
ticks_of() { awk '{print $14 + $15}' "/proc/$1/stat"; }
sum_ticks() {
  local t=0 p
  for p in "$@"; do t=$((t + $(ticks_of "$p"))); done
  echo "$t"
}
share() {  # ticks before, after, seconds before, after
  awk -v c0="$1" -v c1="$2" -v t0="$3" -v t1="$4" -v hz="$hz" \
    'BEGIN { printf "%.1f", 100 * (c1 - c0) / hz / (t1 - t0) }'
}
has_audio() {  # every station's file of the pattern holds audio
  local n f
  for n in $(seq 1 "$stations"); do
    f=$(find "$work/$1$n" -maxdepth 1 -name "$2" -size +4k 2>/dev/null | head -1)
    [ -n "$f" ] || return 1
  done
}

if [ "${WINDOW_ONLY:-0}" != 1 ]; then
# The yardstick: eight ffmpeg recorders of the same inputs, by default in the recorder's own
# format (FFMPEG_INPUT="" leaves ffmpeg's ALSA defaults: 48000 Hz, resampled by the plugin).
ffmpeg_input="${FFMPEG_INPUT--sample_rate 44100 -channels 2}"
for n in $(seq 1 "$stations"); do
  mkdir -p "$work/ff$n"
  # shellcheck disable=SC2086
  ffmpeg -nostdin -hide_banner -loglevel error -f alsa $ffmpeg_input \
    -i "st${n}in" -c:a libmp3lame -b:a 128k -y "$work/ff$n/out.mp3" 2>>"$work/ffmpeg.log" &
  ffmpeg_pids+=($!)
  sleep 0.3  # eight connections at once may meet a full listen queue of the daemon
done
for _ in $(seq 1 300); do has_audio ff 'out.mp3' && break; sleep 0.2; done
has_audio ff 'out.mp3' || { echo "ffmpeg does not record:" >&2; cat "$work/ffmpeg.log" >&2; exit 1; }
t0=$(date +%s.%N); f0=$(sum_ticks "${ffmpeg_pids[@]}")
sleep "$measured"
t1=$(date +%s.%N); f1=$(sum_ticks "${ffmpeg_pids[@]}")
ffmpeg_share=$(share "$f0" "$f1" "$t0" "$t1")
for p in "${ffmpeg_pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
for p in "${ffmpeg_pids[@]}"; do wait "$p" 2>/dev/null || true; done
ffmpeg_pids=()

QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
  "$work/install/recorder" 2>"$work/recorder.log" &
recorder_pid=$!
for _ in $(seq 1 300); do has_audio st '??????????.mp3' && break; sleep 0.2; done
has_audio st '??????????.mp3' || {
  echo "not every station records:" >&2
  cat "$work/recorder.log" >&2
  exit 1
}

bytes() { cat "$work"/st*/*.mp3 | wc -c; }
# Per thread: the user-interface thread (the process id), the threads named by the pulse
# plugin (its mainloops), and the rest (capture threads, the shared timer, the file worker).
per_thread() {
  local t
  for t in /proc/"$recorder_pid"/task/*; do
    awk -v tid="${t##*/}" -v pid="$recorder_pid" -v comm="$(cat "$t/comm")" '{
      kind = tid == pid ? "ui" : (comm == "threaded-ml" ? "pulse" : "other")
      print tid, kind, $14 + $15 }' "$t/stat"
  done
}
t0=$(date +%s.%N); c0=$(ticks_of "$recorder_pid"); b0=$(bytes); per_thread >"$work/threads0"
sleep "$measured"
t1=$(date +%s.%N); c1=$(ticks_of "$recorder_pid"); b1=$(bytes); per_thread >"$work/threads1"
threads=$(ls "/proc/$recorder_pid/task" | wc -l)
recorder_share=$(share "$c0" "$c1" "$t0" "$t1")
kill -TERM "$recorder_pid"
wait "$recorder_pid" || true
recorder_pid=""

finished=$(find "$work"/st* -name '??????????a??????????.mp3' | wc -l)
echo "stations: $stations at 128 kbit/s, white noise at pacat volume ${NOISE_VOLUME:-41352} of 65536, $measured s measured each"
echo "ffmpeg recorders: $ffmpeg_share % of one core"
echo "recorder (window hidden, $threads threads): $recorder_share % of one core"
awk -v r="$recorder_share" -v f="$ffmpeg_share" 'BEGIN { printf "ratio recorder / ffmpeg: %.2f\n", r / f }'
awk -v b0="$b0" -v b1="$b1" -v st="$stations" -v w="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
  -v fin="$finished" 'BEGIN {
  printf "audio written in the window: %.1f s per station over %.1f s\n", (b1 - b0) / 16000 / st, w
  printf "finished recordings after SIGTERM: %d of %d\n", fin, st
}'
awk -v hz="$hz" -v wall="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" '
  NR == FNR { before[$1] = $3; next }
  { sum[$2] += $3 - before[$1] }
  END { for (k in sum) printf "  %-5s threads: %.1f %% of one core\n", k, 100 * sum[k] / hz / wall }
' "$work/threads0" "$work/threads1" | sort
fi

# The window shown: started by hand in a program of its own, so that it is not hidden.
if [ -x "$window_bench" ]; then
  sed 's/^AutoGravar=S/AutoGravar=N/' "$work/install/cfg.ini" >"$work/window.ini"
  QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
    "$window_bench" "$work/window.ini" "${PHASE_SECONDS:-10}" 2>"$work/window.log" || cat "$work/window.log" >&2
fi
