#!/usr/bin/env bash
# Prints which src/ folders include which, and fails when a folder includes
# one above it or a .cpp file is included. Layers, bottom to top:
#   platform conversion core link outcome ui app
set -euo pipefail
cd "$(dirname "$0")/../src"
layers=(platform conversion core link outcome ui app)
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }
status=0
edges=$(grep -rHoE '^#include "[a-z_]+/[^"]+"' --include='*.h' --include='*.cpp' */ |
  sed -E 's#^([a-z_]+)/[^:]*:\#include "([a-z_]+)/([^"]+)"#\1 \2 \3#' | sort -u)
while read -r from to file; do
  [ -z "$from" ] && continue
  case "$file" in *.cpp) echo "includes a .cpp file: $from -> $to/$file"; status=1 ;; esac
  [ "$from" = "$to" ] && continue
  fr=$(rank "$from"); tr=$(rank "$to")
  if [ "$fr" -lt 0 ] || [ "$tr" -lt 0 ] || [ "$tr" -gt "$fr" ]; then
    echo "upward include: $from -> $to/$file"; status=1
  fi
done <<< "$edges"
echo "folder graph (from -> to):"
awk '$1 != $2 {print "  " $1 " -> " $2}' <<< "$edges" | sort -u
exit $status
