#!/usr/bin/env bash
# Regenerates the stream fixtures of the Annex-B helper tests (needs ffmpeg with x264 and
# x265, see scripts/packages/dev/ccvt.txt). The parameter-set files are ffmpeg's own
# extraction, used as the peer's answer.
set -euo pipefail
cd "$(dirname "$0")"
src="-f lavfi -i testsrc=size=64x64:rate=10 -frames:v 3 -pix_fmt yuv420p"
ffmpeg -v error -y $src -c:v libx264 -preset ultrafast -bf 0 -f h264 h264_3frames.264
ffmpeg -v error -y $src -c:v libx265 -preset ultrafast -x265-params log-level=error:bframes=0 -f hevc hevc_3frames.265
ffmpeg -v error -y -i h264_3frames.264 -c copy -bsf:v "filter_units=pass_types=7-8" -frames:v 1 -f h264 h264_param_sets.264
ffmpeg -v error -y -i h264_3frames.264 -c copy -bsf:v "filter_units=pass_types=1" -f h264 h264_non_idr.264
ffmpeg -v error -y -i hevc_3frames.265 -c copy -bsf:v "filter_units=pass_types=32-34" -frames:v 1 -f hevc hevc_param_sets.265
ffmpeg -v error -y -i hevc_3frames.265 -c copy -bsf:v "filter_units=pass_types=0-9" -f hevc hevc_non_idr.265
