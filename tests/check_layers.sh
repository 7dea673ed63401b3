#!/usr/bin/env bash
# The layers of the source tree: the platform layer reaches nothing of the
# system above it, and the zone code nothing but the floor helpers every layer
# may use. Prints each include that crosses a line and fails on any.
#
#   tests/check_layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

bad=0
# check FOLDER ALLOWED_REGEX FORBIDDEN_REGEX: quoted includes of files under
# FOLDER that match FORBIDDEN and not ALLOWED.
check() {
  local folder=$1 allowed=$2 forbidden=$3 file line target
  while IFS=: read -r file line target; do
    target=${target#*\"}
    target=${target%%\"*}
    [[ $target =~ $forbidden ]] || continue
    [[ -n $allowed && $target =~ $allowed ]] && continue
    echo "layer break: $file:$line includes $target"
    bad=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" \
             --include='*.h' --include='*.cpp' --include='*.c' || true)
}

check platform '' '^(app|ui|timeclient|log|zones|linux|tests)/'
check zones '^app/(memory|text)\.h$' '^(app|ui|timeclient|log|linux|tests)/'

if [ "$bad" -ne 0 ]; then
  echo "FAIL: the includes above cross a layer (see DESIGN.md, Layout)"
  exit 1
fi
echo "layers: platform/ and zones/ include nothing above them"
