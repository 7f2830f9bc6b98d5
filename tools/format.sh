#!/bin/sh
# Applies the project's .clang-format to every C and C++ source, or with --check lists the files
# that disagree with it and fails.
#
#   format.sh [--check]
set -eu

top=$(cd "$(dirname "$0")/.." && pwd -P)
formatter=${CLANG_FORMAT:-clang-format}
# The sources git knows of, new ones not yet added included; in a tree without git (an unpacked
# source archive) every source outside hidden folders and build trees.
if [ "$(git -C "$top" rev-parse --show-toplevel 2>/dev/null)" = "$top" ]; then
    files=$(cd "$top" && git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c')
else
    files=$(cd "$top" && find . \( -name '.?*' -o -name 'build*' \) -prune -o -type f \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | cut -c3- | sort)
fi

if [ "${1:-}" = "--check" ]; then
    bad=""
    for f in $files; do
        [ -f "$top/$f" ] || continue # deleted, not yet committed
        "$formatter" --dry-run -Werror "$top/$f" >/dev/null 2>&1 || bad="$bad $f"
    done
    if [ -n "$bad" ]; then
        echo "not formatted (run tools/format.sh or cmake --build build --target format):" >&2
        for f in $bad; do echo "  $f" >&2; done
        exit 1
    fi
    exit 0
fi
for f in $files; do [ ! -f "$top/$f" ] || "$formatter" -i "$top/$f"; done
