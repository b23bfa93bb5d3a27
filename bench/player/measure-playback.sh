#!/usr/bin/env bash
# Frames shown against frames received, and the time from capture to swap, while
# decode-player plays 1080p60 from the NDI stand-in for a while (default 60 s) on a private
# Xvfb (no window manager, Mesa llvmpipe). Writes only under a temporary root.
#   bench/player/measure-playback.sh [build] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
player=$(cd "$build/player" && pwd)/decode-player
root=$(mktemp -d /tmp/tarnvik-measure-XXXXXX)
mkdir -p "$root/etc" "$root/tmp" "$root/opt/tarnvik" "$root/fake-bin"
cat > "$root/fake-bin/xrandr" <<'FAKE'
#!/bin/sh
[ $# -eq 0 ] || exit 0
cat <<'LISTING'
Screen 0: minimum 8 x 8, current 1920 x 1080, maximum 32767 x 32767
HDMI-1 connected primary 1920x1080+0+0 (normal left inverted right x axis y axis) 509mm x 286mm
   1920x1080     60.00*+  50.00    59.94
LISTING
FAKE
chmod +x "$root/fake-bin/xrandr"
cat > "$root/tmp/scenario.json" <<'SCENARIO'
{"sources": [{"name": "Measure", "segments": [
  {"video": {"width": 1920, "height": 1080, "rate": [60, 1]}, "audio": {"rate": 48000, "channels": 2, "samples": 800}}]}]}
SCENARIO
xvfb=""
trap '[ -z "$xvfb" ] || kill $xvfb 2>/dev/null || true' EXIT
. "$(dirname "$0")/../../scripts/private-xvfb.sh"
start_private_xvfb "$root" || exit 1

PATH="$root/fake-bin:$PATH" TARNVIK_ROOT="$root" DISPLAY="$display" VXR_DEBUG_LEVEL=1 \
  TARNVIK_NDI_SCENARIO="$root/tmp/scenario.json" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$root/tmp/audio.raw" \
  "$player" Measure > "$root/player.log" 2>&1 &
pid=$!
sleep "$seconds"
kill -TERM "$pid"
wait "$pid" || true

log="$root/player.log"
received=$(grep -c '^receiver time:' "$log" || true)
shown=$(grep -c '^\[ DEBUG \] Opengl render time' "$log" || true)
echo "run: ${seconds} s of 1080p60 on 1920x1080 (Xvfb, llvmpipe, no window manager)"
echo "frames received: $received, frames shown: $shown"
for what in 'receiver time:' 'Opengl render time :' 'capture to swap :'; do
  grep -F "$what" "$log" | awk -F': *' '{print $NF}' | sort -g | awk -v name="$what" '
    { v[NR] = $1; sum += $1 }
    END { if (NR) printf "%-22s n=%d mean=%.2f ms median=%.2f ms p95=%.2f ms\n", name, NR, 1000*sum/NR, 1000*v[int((NR+1)/2)], 1000*v[int(NR*0.95)] }'
done
rm -rf "$root"
