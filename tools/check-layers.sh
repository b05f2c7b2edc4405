#!/usr/bin/env bash
# Fails when a folder of kastrel/ includes a header of a layer above it.
# Dependencies point down only: engine -> graphics/png/math -> device -> base, and math and png
# use nothing above base. Tests and testing/ helpers of a folder keep to its layer too.
# Usage: tools/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The folders each folder may include besides its own. kastrel/boolean.h counts as base;
# kastrel/kastrel.h is for games only. A new folder must be added here.
declare -A allowed=(
  [base]=""
  [math]="base"
  [png]="base"
  [device]="base"
  [graphics]="base device math png"
  [engine]="base device math png graphics"
  # Worlds: tile maps, the camera and tile collision, drawn through graphics.
  [world]="base device math png graphics"
  # Sound uses base only; its tests run a real frame loop, so it sits beside the engine.
  [audio]="base device math png graphics engine"
)

status=0
for dir in kastrel/*/; do
  folder=$(basename "$dir")
  if [[ -z "${allowed[$folder]+set}" ]]; then
    echo "check-layers: kastrel/$folder has no place in the layer table of $0" >&2
    status=1
    continue
  fi
  while IFS=: read -r file line target; do
    used=${target#kastrel/}
    used=${used%%/*}
    case "$used" in
      boolean.h) continue ;;
      "$folder") continue ;;
    esac
    if [[ " ${allowed[$folder]} " != *" $used "* ]]; then
      echo "check-layers: $file:$line: kastrel/$folder includes $target, which is above it" >&2
      status=1
    fi
  done < <(grep -rnoE '^\s*#\s*include\s*["<]kastrel/[^">]+' "$dir" |
           sed -E 's/^([^:]+):([0-9]+):.*["<](kastrel\/.*)$/\1:\2:\3/')
done
[[ $status -eq 0 ]] && echo "check-layers: every include points down"
exit $status
