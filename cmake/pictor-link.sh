#!/usr/bin/env bash
# Linker launcher of the shipped binaries (pictor_ship_binary): the link runs with lld's
# --verbose, whose account of the files it read and the archive members it loaded goes
# into <log> after the link's working directory (the third-party notices are made from it);
# warnings, errors and anything else on stderr still reach the console.
#   pictor-link.sh <log> <link command...>
log=$1
shift
echo "directory $PWD" >"$log"
"$@" 2>>"$log"
status=$?
awk '/^ld\.lld: (warning|error)/ || !/^(directory |lld-link |ld\.lld: )/' "$log" >&2
exit $status
