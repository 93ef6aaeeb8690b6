#!/usr/bin/env bash
# The include arrows point down only: executables -> app/ -> subsystems -> gui/ (what every
# dialog and pane shares) and the Qt-free core. Prints every include that points up and fails.
# The core is every source of the subsystem folders that is not built into the GUI library (or
# the port list, the one piece of the serial layer that asks Qt): it includes no Qt header, and
# no header of the GUI side, so that the channel core, kelvarin-cli and the tests build without
# a window.
set -euo pipefail
cd "$(dirname "$0")/.."

subsystems=(channel detectors acquisition analysis capture settings monitor station)
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

# The sources of `folder` built with Qt: those its CMakeLists.txt gives the GUI library or the
# port list, as folder/Name (without extension).
qt_sources() {
  local folder="$1"
  tr '\n' ' ' < "$folder/CMakeLists.txt" |
    grep -oE '(target_sources\(kelvarin_gui|add_library\(kelvarin_ports)[^)]*\)' |
    grep -oE '[A-Za-z0-9_]+\.cpp' | sed "s|^|$folder/|; s|\.cpp\$||"
}
core_folders=(link detectors channel render sim acquisition analysis settings capture monitor station)
qt_side=" "
for folder in "${core_folders[@]}"; do
  for name in $(qt_sources "$folder"); do qt_side+="$name "; done
done
for folder in "${core_folders[@]}"; do
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [ -f "$file" ] || continue
    name="${file%.*}"
    case "$qt_side" in *" $name "*) continue ;; esac
    # A core file: no Qt header, no header of the GUI side.
    if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file" | sed "s|^|$file:|"; then
      echo "$file is core code (not in the GUI library) and includes a Qt header."
      status=1
    fi
    # Nor through a header of ours that includes one.
    while read -r included; do
      if [ -f "$included" ] && grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$included"; then
        echo "$file is core code and includes \"$included\", which includes a Qt header."
        status=1
      fi
    done < <(grep -oE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" |
               sed -E 's/.*"([^"]+)"/\1/')
  done
done
[ "$status" -eq 0 ] || echo "Includes above point up the layers; move the shared piece down."
exit "$status"
