#!/bin/sh
# Applies the project's .clang-format to every C and C++ source, or with --check lists the files
# that disagree with it and fails.
#
#   format.sh [--check]
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
formatter=${CLANG_FORMAT:-clang-format}
files=$(cd "$top" && find app bench discovery engine mainwindow service tests tools \
    -name '*.cpp' -o -name '*.h' -o -name '*.c' | sort)

if [ "${1:-}" = "--check" ]; then
    bad=""
    for f in $files; do
        "$formatter" --dry-run -Werror "$top/$f" >/dev/null 2>&1 || bad="$bad $f"
    done
    if [ -n "$bad" ]; then
        echo "not formatted (run tools/format.sh or cmake --build build --target format):" >&2
        for f in $bad; do echo "  $f" >&2; done
        exit 1
    fi
    exit 0
fi
for f in $files; do "$formatter" -i "$top/$f"; done
