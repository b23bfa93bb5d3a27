#!/bin/sh
# Runs a test program in a private network namespace whose only interface besides the
# loopback carries a known IPv4 address, netmask and hardware address (a veth pair; the
# machine's own network is not touched). Exits 77 (skipped) where no namespace can be made.
set -e
if [ "$1" != inside ]; then
  unshare --net true 2>/dev/null || { echo "no network namespace here: skipped"; exit 77; }
  exec unshare --net "$0" inside "$@"
fi
shift
ip=$(command -v ip || echo /usr/sbin/ip)
"$ip" link add veth0 type veth peer name veth1 || { echo "no veth links here: skipped"; exit 77; }
"$ip" link set veth0 address 02:00:00:77:00:05
"$ip" addr add 10.77.0.5/24 dev veth0
"$ip" link set veth0 up
"$ip" link set veth1 up
export TARNVIK_TEST_NETWORK="10.77.0.5 255.255.255.0 02:00:00:77:00:05"
exec "$@"
