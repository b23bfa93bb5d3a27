# Sourced by the scripts that play on a private X server.
#   start_private_xvfb <dir>   starts Xvfb (1920x1080, RANDR, GLX) on a display number it
#                              picks itself; sets $xvfb (its pid) and $display (":N"), or
#                              prints where its log is and returns 1
start_private_xvfb() {
  local dir=$1 number
  # -displayfd: Xvfb writes its number once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension RANDR +extension GLX \
    3> "$dir/xvfb.display" > "$dir/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 300); do
    grep -qx '[0-9][0-9]*' "$dir/xvfb.display" 2>/dev/null && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  number=$(grep -x '[0-9][0-9]*' "$dir/xvfb.display" 2>/dev/null || true)
  if [ -z "$number" ]; then
    echo "Xvfb did not start; its log is $dir/xvfb.log"
    return 1
  fi
  display=":$number"
}
