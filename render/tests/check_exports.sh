#!/usr/bin/env bash
# Checks the dynamic symbols of libklmf: the 28 renderer functions, no C++ names, and
# nothing else except the resize library's ipp/i_ names.
set -euo pipefail
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(_init|_fini|__bss_start|_edata|_end)$' || true)
kelmf=$(grep -c '^kelmf_renderer_' <<<"$syms" || true)
if [ "$kelmf" != 28 ]; then
  echo "expected 28 kelmf_renderer_ functions, found $kelmf"; grep '^kelmf_' <<<"$syms"; exit 1
fi
other=$(grep -v -E '^(kelmf_renderer_|ipp|i_(malloc|calloc|realloc|free)$)' <<<"$syms" || true)
if [ -n "$other" ]; then
  echo "unexpected exports:"; echo "$other"; exit 1
fi
echo "exports ok"
