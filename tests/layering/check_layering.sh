#!/usr/bin/env bash
# Arrows point down only: ui -> app -> subsystems -> base -> platform.
#   check_layering.sh <source root> <library links file>
# The links file holds one line per library: "<target> <folder> <links;...>".
# Prints every breach and exits 1 when there is one.
set -uo pipefail
root=$1
links_file=$2
breaches=0
breach() {
  echo "layering: $*"
  breaches=$((breaches + 1))
}

subsystems='device|tracking|ai3d|netlocal|cloud'

# Links.
while read -r target folder links; do
  [ -n "$target" ] || continue
  IFS=';' read -r -a linked <<<"${links:-}"
  for link in "${linked[@]}"; do
    [[ $link =~ ^vistrelle_ ]] || continue
    case $folder in
      src/platform*)
        [[ $link =~ ^vistrelle_platform ]] || breach "$target ($folder) links $link above the platform layer" ;;
      src/base*)
        [[ $link =~ ^vistrelle_(platform|base) ]] || breach "$target ($folder) links $link above the shared floor" ;;
      src/device* | src/tracking* | src/ai3d* | src/netlocal* | src/cloud*)
        [[ $link =~ ^vistrelle_(app|ui|sim) ]] && breach "$target ($folder) links $link" ;;
      src/app*)
        [[ $link =~ ^vistrelle_(ui|sim) ]] && breach "$target ($folder) links $link" ;;
      src/ui*)
        [[ $target != vistrelle && $link =~ ^vistrelle_sim ]] && breach "$target ($folder) links $link: only the executable plugs the simulator in" ;;
      sim*)
        [[ $link =~ ^vistrelle_(app|ui) ]] && breach "$target ($folder) links $link" ;;
    esac
  done
done <"$links_file"

# Includes: the quoted project includes of every source file under src/.
cd "$root" || exit 2
while IFS= read -r -d '' file; do
  while IFS= read -r included; do
    case $file in
      src/platform/*)
        [[ $included =~ ^(base|app|ui|sim|$subsystems)/ ]] && breach "$file includes $included above the platform layer" ;;
      src/base/*)
        [[ $included =~ ^(app|ui|sim|$subsystems)/ ]] && breach "$file includes $included above the shared floor" ;;
      src/device/* | src/tracking/* | src/ai3d/* | src/netlocal/* | src/cloud/*)
        [[ $included =~ ^(app|ui|sim)/ ]] && breach "$file includes $included" ;;
      src/app/*)
        [[ $included =~ ^(ui|sim)/ ]] && breach "$file includes $included" ;;
      src/ui/main.cpp) ;;
      src/ui/*)
        [[ $included =~ ^sim/ ]] && breach "$file includes $included: only the executable's entry plugs the simulator in" ;;
    esac
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
  # System headers: Qt only in ui/, the OS services only in their platform backends.
  while IFS= read -r included; do
    case $included in
      Q* | Qt*/*)
        [[ $file == src/ui/* ]] || breach "$file includes <$included>: only ui/ uses Qt" ;;
      X11/* | xcb/* | libudev.h | systemd/* | pulse/* | avahi-*/* | hidapi/* | hidapi.h)
        [[ $file == src/platform/* ]] || breach "$file includes <$included>: only platform backends use it" ;;
    esac
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/p' "$file")
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0)

if [ "$breaches" -gt 0 ]; then
  echo "layering: $breaches breach(es)"
  exit 1
fi
echo "layering: arrows point down"
