#!/bin/sh
# Link launcher of the Wine module: runs CMake's link line with wineg++ (the
# first argument) in place of the C++ compiler, so wineg++ writes NAME.exe (its
# shell wrapper) and NAME.exe.so, the module Wine starts.
set -e
winegxx=$1
shift
shift  # the C++ compiler CMake would have used
exec "$winegxx" "$@"
