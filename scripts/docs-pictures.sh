#!/usr/bin/env bash
# The pictures of the users' guide: the control on a form and its two property
# pages, as scripts/wine-container-test.sh captures them (build/win64/screenshots),
# copied to docs/pictures/, where docs/on-a-form.md shows them. They are build
# outputs: docs/pictures/ is not kept in git.
# Usage: bash scripts/docs-pictures.sh        (needs the win64 build, Wine, Xvfb, ImageMagick)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shots=${CORVANE_WINE_BUILD_DIR:-$root/build/win64}/screenshots
pictures=$root/docs/pictures

rm -f "$shots"/{form,pagPOP3,pagSMTP}.png
bash "$root/scripts/wine-container-test.sh" || echo "docs-pictures: the container test failed; copying what it made" >&2
mkdir -p "$pictures"
status=0
for name in form pagPOP3 pagSMTP; do
  if [[ -s $shots/$name.png ]]; then
    cp "$shots/$name.png" "$pictures/$name.png"
    echo "docs/pictures/$name.png"
  else
    echo "docs-pictures: $shots/$name.png was not made" >&2
    status=1
  fi
done
exit $status
