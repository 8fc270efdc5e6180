#!/bin/sh
# txbootload carries its own C++ runtime (-static-libstdc++): it must load no
# library that brings the shared one with it (two runtimes in one process).
set -eu
needed=$(readelf -d "$1" | grep NEEDED) || { echo "cannot read $1" >&2; exit 1; }
echo "$needed"
if echo "$needed" | grep -E 'libstdc\+\+|libwx'; then
    echo "txbootload loads the shared C++ runtime beside its own copy: drop -static-libstdc++" >&2
    exit 1
fi
