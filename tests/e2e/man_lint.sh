#!/usr/bin/env bash
# The man page as man(1) reads it: groff with all its warnings and mandoc's
# lint must find nothing to say, and the page must render man(7)'s sections
# in their order and none of the Windows help's text.
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
# The sections man(7) names, in its order, then the help's chapters, and SEE
# ALSO last; the Windows help's own text stays out.
headings=$(grep -E '^[A-Z][A-Z ]+$' <<<"$shown")
wanted=(NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES)
[ "$(head -n ${#wanted[@]} <<<"$headings")" = "$(printf '%s\n' "${wanted[@]}")" ] ||
  fail "the sections do not begin ${wanted[*]}:"$'\n'"$headings"
[ "$(tail -n 1 <<<"$headings")" = "SEE ALSO" ] || fail "SEE ALSO is not the last section:"$'\n'"$headings"
grep -q '^THE MAIN DIALOG$' <<<"$headings" || fail "the dialogs' chapters are missing:"$'\n'"$headings"
! grep -qi 'kronsec\.hlp' <<<"$shown" || fail "the page speaks of kronsec.hlp"
echo "man_lint: $(basename "$page") renders its sections in order, and groff -ww and mandoc -T lint have nothing to say"
