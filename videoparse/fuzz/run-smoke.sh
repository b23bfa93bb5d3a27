#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address + undefined) into a temporary
# directory and runs each for the given seconds on the committed streams.
#   videoparse/fuzz/run-smoke.sh [seconds per target, default 20] [target name...]
# Inputs that crash or hang are kept in $VIDEOPARSE_FUZZ_ARTIFACTS (default
# /tmp/videoparse-fuzz-artifacts). The hang limit is wall-clock time, so it is
# generous by default (VIDEOPARSE_FUZZ_TIMEOUT, 10 s): a busy machine must not
# fail the run; the slowest input's time is printed with the final stats.
set -euo pipefail
secs=${1:-20}
shift || true
only=("$@")
artifacts=${VIDEOPARSE_FUZZ_ARTIFACTS:-/tmp/videoparse-fuzz-artifacts}
timeout=${VIDEOPARSE_FUZZ_TIMEOUT:-10}
mkdir -p "$artifacts"
# A smaller quarantine keeps ASan's own bookkeeping from eating the time limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=10}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

srcs=("$root"/src/*.cpp)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -DVIDEOPARSE_BUILD -I"$root/include" -I"$root/src")

mkdir -p "$work/seed"
cp "$root"/tests/data/*.h264 "$root"/tests/data/*.h265 "$work/seed/"
[ -d "$here/corpus" ] && cp "$here"/corpus/* "$work/seed/" 2>/dev/null || true

# Parser objects once (in parallel), then one link per target.
mkdir -p "$work/obj"
printf '%s\n' "${srcs[@]}" "$here"/fuzz_*.cpp |
  xargs -P "$(nproc)" -I{} sh -c 'clang++ "$@" -c "{}" -o "'"$work"'/obj/$(basename "{}" .cpp).o"' _ "${flags[@]}"
parser_objs=()
for s in "${srcs[@]}"; do parser_objs+=("$work/obj/$(basename "$s" .cpp).o"); done

status=0
for target in "$here"/fuzz_*.cpp; do
  name=$(basename "$target" .cpp)
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  clang++ "${flags[@]}" "$work/obj/$name.o" "${parser_objs[@]}" -o "$work/$name"
  mkdir -p "$work/corpus-$name"
  echo "== $name (${secs}s)"
  if ! (cd "$work" && "./$name" -max_total_time="$secs" -timeout="$timeout" -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" \
         "corpus-$name" seed 2>"$work/$name.log"); then
    status=1
    tail -60 "$work/$name.log"
  else
    grep -E 'stat::number_of_executed_units|stat::slowest_unit_time_sec|stat::peak_rss_mb' "$work/$name.log" || true
  fi
done
exit $status
