#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a program against it
# twice: once through pkg-config, once as a CMake package.
set -euo pipefail
build=$1
source=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib*/ | head -n 1)
test -f "$prefix/include/qeltble.h"
test -L "$libdir/libqeltble.so.1"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$prefix/by-pkg-config" "$source/consumer/consumer.c" $(pkg-config --cflags --libs qeltble)
LD_LIBRARY_PATH="$libdir" "$prefix/by-pkg-config"

cmake -S "$source/consumer" -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$prefix/consumer-build/consumer"
