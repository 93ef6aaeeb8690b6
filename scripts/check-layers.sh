#!/usr/bin/env bash
# The include arrows point down only: executables -> app/ -> subsystems -> gui/ (what every
# dialog and pane shares) and the Qt-free core. Prints every include that points up and fails.
set -euo pipefail
cd "$(dirname "$0")/.."

subsystems=(channel detectors acquisition analysis capture settings)
core=(link render sim)
status=0
check() { # folder, then the folders it must not include
  local folder="$1"
  shift
  [ -d "$folder" ] || return 0
  for above in "$@"; do
    if grep -rn --include='*.h' --include='*.cpp' "#include \"$above/" "$folder"; then
      status=1
    fi
  done
}
for folder in "${subsystems[@]}" "${core[@]}"; do check "$folder" app; done
check gui app "${subsystems[@]}"
[ "$status" -eq 0 ] || echo "Includes above point up the layers; move the shared piece down."
exit "$status"
