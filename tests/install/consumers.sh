#!/bin/sh
# Installs the build into a temporary prefix, then builds a C and a C++ program against the
# installed library with pkg-config only, and runs both.
set -eu
build="$1"
here="$2"
sanitize="${3:-}"
sanitize=$(echo "$sanitize" | tr ';' ' ')

prefix=$(mktemp -d "${TMPDIR:-/tmp}/hxinstall.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"

# shellcheck disable=SC2046,SC2086
cc -std=c11 -Wall -Wextra -Werror $sanitize -o "$prefix/consumer_c" "$here/consumer.c" \
    $(pkg-config --cflags --libs halcyonix) -Wl,-rpath,"$prefix/lib"
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 -Wall -Wextra -Werror $sanitize -o "$prefix/consumer_cpp" "$here/consumer.cpp" \
    $(pkg-config --cflags --libs halcyonix) -Wl,-rpath,"$prefix/lib"

"$prefix/consumer_c"
"$prefix/consumer_cpp"
test -x "$prefix/bin/Updater"
test -f "$prefix/lib/cmake/Halcyonix/HalcyonixConfig.cmake"
echo "installed library serves C and C++ consumers"
