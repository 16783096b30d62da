#!/usr/bin/env bash
# The program's folders are layers, listed here bottom to top: a folder
# includes its own headers and those of folders below it, never those of a
# folder above. Prints, per folder, the folders its includes name, and fails
# with the offending lines when an include points upward. Only grep, cut and
# sort are needed. compat/ stands in for system libraries on Windows and so
# lies below everything. (tests/, fuzz/ and tools/ stand beside the program and
# may include any folder.)
set -uo pipefail
cd "$(dirname "$0")/.."

layers=(compat platform records render text net internet app scenes main)

# The folders named by the includes of one folder, one per line.
uses() {
    cat "$1"/*.h "$1"/*.cpp 2>/dev/null | grep -o '^#include "[a-z_]*/' | cut -d'"' -f2 |
        cut -d/ -f1 | sort -u
}

status=0
for ((i = 0; i < ${#layers[@]}; i++)); do
    folder=${layers[i]}
    printf '%-8s -> %s\n' "$folder" "$(uses "$folder" | grep -vx "$folder" | tr '\n' ' ')"
    for above in "${layers[@]:i+1}"; do
        if grep -Hn "^#include \"$above/" "$folder"/*.h "$folder"/*.cpp 2>/dev/null; then
            echo "  ^ $folder/ includes $above/, a layer above it"
            status=1
        fi
    done
done
# A folder of sources outside the list has no place yet.
for folder in */; do
    folder=${folder%/}
    case " ${layers[*]} tests fuzz tools " in *" $folder "*) continue ;; esac
    case $folder in build*) continue ;; esac
    if [ -n "$(ls "$folder"/*.h "$folder"/*.cpp 2>/dev/null)" ]; then
        echo "$folder/ holds sources but is in no layer (add it to the list in $0)"
        status=1
    fi
done
[ $status -eq 0 ] && echo "No include points to a layer above its own."
exit $status
