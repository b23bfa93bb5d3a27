#!/usr/bin/env bash
# Checks the dynamic symbols of libklmf: exactly the 28 renderer functions by name, no C++
# names, and nothing else but names that the resize (and KMS) archives linked into it define.
set -euo pipefail
lib=$1
shift
expected="kelmf_renderer_create_window
kelmf_renderer_delete
kelmf_renderer_display_get_mode
kelmf_renderer_display_set_mode
kelmf_renderer_enable_hdr
kelmf_renderer_get_background_color
kelmf_renderer_get_display_number
kelmf_renderer_global_init
kelmf_renderer_map_next_video_frame
kelmf_renderer_new
kelmf_renderer_new2
kelmf_renderer_render_frame_from_queue
kelmf_renderer_set_background_color
kelmf_renderer_set_display_property
kelmf_renderer_set_display_server
kelmf_renderer_set_display_target
kelmf_renderer_set_gpudirect
kelmf_renderer_set_hdr_metadata
kelmf_renderer_set_video_frame
kelmf_renderer_set_video_property
kelmf_renderer_start
kelmf_renderer_stop
kelmf_renderer_unmap_video_frame
kelmf_renderer_window_destroy
kelmf_renderer_window_get_geometry
kelmf_renderer_window_set_frame
kelmf_renderer_window_set_geometry
kelmf_renderer_window_set_video_property"
syms=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(_init|_fini|__bss_start|_edata|_end)$' || true)
got=$(grep '^kelmf_' <<<"$syms" | LC_ALL=C sort -u || true)
if [ "$got" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  echo "kelmf exports differ from the renderer's 28 functions (< missing, > unexpected):"
  diff <(LC_ALL=C sort <<<"$expected") <(printf '%s\n' "$got") || true
  exit 1
fi
if grep -q '^_Z' <<<"$syms"; then
  echo "C++ names exported:"; grep '^_Z' <<<"$syms"; exit 1
fi
allowed=""
for archive in "$@"; do
  allowed+=$(nm --defined-only -g "$archive" 2>/dev/null | awk 'NF == 3 {print $3}')$'\n'
done
other=$(grep -v '^kelmf_' <<<"$syms" | grep -v -x -F -f <(printf '%s\n' "$allowed" | grep -v '^$' || echo '@@none@@') || true)
if [ -n "$other" ]; then
  echo "unexpected exports:"; echo "$other"; exit 1
fi
echo "exports ok"
