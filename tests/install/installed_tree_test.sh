#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, moves the installed tree
# elsewhere (so nothing may depend on where it was installed), then builds
# one consumer with find_package and one with pkg-config and runs them, and
# the installed programs, without LD_LIBRARY_PATH.
# Usage: installed_tree_test.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
libdir=$(dirname "$(find "$prefix" -name 'libvekr.so' | head -n 1)")

cmake -S "$source/tests/install/consumer" -B "$work/cmake-consumer" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/consumer"

# shellcheck disable=SC2046
"$cc" -o "$work/pc-consumer" "$source/tests/install/consumer/consumer.c" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs vekr)
"$work/pc-consumer"

for tool in vekr-render vekr-volume; do
  if [ -x "$prefix/bin/$tool" ]; then
    "$prefix/bin/$tool" --help >/dev/null
    echo "$tool starts from the moved prefix"
    # Its manual page is installed with it.
    page=$(find "$prefix" -path "*/man1/$tool.1" | head -n 1)
    if [ -z "$page" ] || { command -v man >/dev/null && ! MANPAGER=cat man -l "$page" >/dev/null; }; then
      echo "no readable manual page installed for $tool" >&2
      exit 1
    fi
  fi
done
