#!/bin/sh
# txbootload carries its own copy of the C++ runtime (-static-libstdc++) and
# must therefore load no shared library that brings the shared runtime with
# it: two runtimes in one process do not share exception handling or
# allocation. Fails when the program needs the C++ library or wxWidgets.
set -eu
needed=$(readelf -d "$1" | grep NEEDED) || { echo "cannot read $1" >&2; exit 1; }
echo "$needed"
if echo "$needed" | grep -E 'libstdc\+\+|libwx'; then
    echo "txbootload loads the shared C++ runtime beside its own copy: drop -static-libstdc++" >&2
    exit 1
fi
