#!/bin/sh
# Runs a test program as user 1000 of a private user namespace, so that it is not root
# while the files it makes still belong to the caller. Exits 77 (skipped) where no user
# namespace can be made.
set -e
unshare --user --map-user=1000 --map-group=1000 true 2>/dev/null || { echo "no user namespace here: skipped"; exit 77; }
exec unshare --user --map-user=1000 --map-group=1000 "$@"
