#!/bin/sh
# Runs a test with configuration, data and cache folders of its own, emptied
# first, so that it never reads or writes the real user's settings or files.
#   run_with_own_home.sh FOLDER PROGRAM [ARG]...
set -e
home=$1
shift
rm -rf "$home"
mkdir -p "$home/config" "$home/data" "$home/cache" "$home/state"
XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache XDG_STATE_HOME=$home/state \
  exec "$@"
