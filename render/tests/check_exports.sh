#!/usr/bin/env bash
# Checks the dynamic symbols of libklmf: exactly the 28 renderer functions, no C++ names,
# and nothing else but names that the resize (and KMS) archives linked into it define.
set -euo pipefail
lib=$1
shift
syms=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(_init|_fini|__bss_start|_edata|_end)$' || true)
kelmf=$(grep -c '^kelmf_renderer_' <<<"$syms" || true)
if [ "$kelmf" != 28 ]; then
  echo "expected 28 kelmf_renderer_ functions, found $kelmf"; grep '^kelmf_' <<<"$syms" || true; exit 1
fi
if grep -q '^_Z' <<<"$syms"; then
  echo "C++ names exported:"; grep '^_Z' <<<"$syms"; exit 1
fi
allowed=""
for archive in "$@"; do
  allowed+=$(nm --defined-only -g "$archive" 2>/dev/null | awk 'NF == 3 {print $3}')$'\n'
done
other=$(grep -v '^kelmf_renderer_' <<<"$syms" | grep -v -x -F -f <(printf '%s\n' "$allowed" | grep -v '^$' || echo '@@none@@') || true)
if [ -n "$other" ]; then
  echo "unexpected exports:"; echo "$other"; exit 1
fi
echo "exports ok"
