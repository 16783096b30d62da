#!/usr/bin/env bash
# dlls.sh PREFIX DEST FILE... : copies into DEST every DLL that the Windows
# programs or DLLs FILE... need, directly or through another DLL, taken from
# PREFIX/bin or the MinGW runtime. DLLs that Windows itself provides
# (KERNEL32, msvcrt, opengl32, ...) are found in neither and left out.
set -euo pipefail
prefix=$1 dest=$2
shift 2
search=("$prefix/bin" /usr/x86_64-w64-mingw32/lib /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
mkdir -p "$dest"

# The DLL names a PE file imports, one per line.
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }

# find_dll NAME : the path of NAME in the search folders (case-insensitive).
find_dll() {
  local dir hit
  for dir in "${search[@]}"; do
    hit=$(find "$dir" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
    [ -n "$hit" ] && { echo "$hit"; return 0; }
  done
  return 1
}

queue=("$@")
declare -A seen=()
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r name; do
    key=${name,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    if path=$(find_dll "$name"); then
      cp -u "$path" "$dest/"
      queue+=("$path")
    fi
  done < <(imports "$file")
done
