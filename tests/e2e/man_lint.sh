#!/usr/bin/env bash
# The man page as man(1) reads it: groff with all its warnings and mandoc's
# lint must find nothing to say, and the page must render its first sections.
#
#   tests/e2e/man_lint.sh PAGE
set -euo pipefail
page=${1:?usage: man_lint.sh PAGE}
fail() {
  echo "man_lint: FAILED: $*" >&2
  exit 1
}
[[ -s $page ]] || fail "$page is missing or empty"
for tool in groff mandoc; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (tools/install-deps.sh)"
done

said=$(groff -ww -z -man "$page" 2>&1) || fail "groff failed: $said"
[[ -z $said ]] || fail "groff -ww warns:"$'\n'"$said"
said=$(mandoc -T lint "$page" 2>&1) || [[ -z $said ]] || fail "mandoc -T lint says:"$'\n'"$said"
[[ -z $said ]] || fail "mandoc -T lint says:"$'\n'"$said"

shown=$(groff -man -Tascii -P-c -P-b -P-u "$page" 2>&1)
for heading in NAME SYNOPSIS DESCRIPTION 'The Linux command line'; do
  grep -q "^$heading" <<<"$shown" || fail "the rendered page has no \"$heading\" section"
done
echo "man_lint: $(basename "$page") renders, and groff -ww and mandoc -T lint have nothing to say"
