#!/usr/bin/env bash
# The floors of the source tree, lowest first:
#
#   platform < base < zones < app < timeclient < log < ui < program < linux
#
# A file includes only its own floor and those below; ui/res/resource.h (ids
# only) may be included from anywhere. No system code outside platform/ and
# linux/ includes a POSIX header. Prints each include that breaks a rule and
# fails on any.
#
#   tests/check_layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

floors=(platform base zones app timeclient log ui program linux)
posix_headers='^(unistd|fcntl|poll|signal|netdb|pthread|dirent|termios|pwd|grp|dlfcn)\.h$|^(sys|netinet|arpa)/'

floor_of() {
  local i
  for i in "${!floors[@]}"; do
    [ "${1%%/*}" = "${floors[$i]}" ] && { echo "$i"; return; }
  done
  echo -1
}

bad=0
for i in "${!floors[@]}"; do
  folder=${floors[$i]}
  [ -d "$folder" ] || { echo "FAIL: no folder $folder/ here: run it from the source tree"; exit 1; }
  while IFS=: read -r file line text; do
    if [[ $text =~ \"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      [ "$target" = ui/res/resource.h ] && continue
      # A bare name is a file of the same folder (resource.h from kronsec.rc).
      [[ $target == */* ]] || continue
      above=$(floor_of "$target")
      if [ "$above" -gt "$i" ]; then
        echo "layer break: $file:$line includes $target (${floors[$above]} is above $folder)"
        bad=1
      fi
    elif [[ $text =~ \<([^\>]+)\> ]] && [ "$folder" != platform ] && [ "$folder" != linux ]; then
      header=${BASH_REMATCH[1]}
      if [[ $header =~ $posix_headers ]]; then
        echo "layer break: $file:$line includes the POSIX header <$header> outside platform/ and linux/"
        bad=1
      fi
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$folder" \
             --include='*.h' --include='*.cpp' --include='*.c' --include='*.rc' || true)
done

if [ "$bad" -ne 0 ]; then
  echo "FAIL: the includes above run up a floor (see DESIGN.md, Layout)"
  exit 1
fi
echo "layers: every folder includes only its own floor and those below"
