#!/usr/bin/env bash
# Installs the built program into a temporary prefix, as a user would into
# ~/.local, and checks that everything a desktop needs arrived and is valid.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

id=io.github.plumora.Plumora
expect=(
  bin/plumora bin/plumora-cli
  share/applications/$id.desktop share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/128x128/apps/$id.png
  share/icons/hicolor/256x256/apps/$id.png
  share/man/man1/plumora-cli.1.gz share/man/man1/plumora.1.gz
  share/doc/plumora/copyright share/doc/plumora/changelog.gz
)
for f in "${expect[@]}"; do
  [ -s "$prefix/$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done
[ -x "$prefix/bin/plumora" ] && [ -x "$prefix/bin/plumora-cli" ]

desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
# The entry starts the installed program with the file it is given.
grep -qx 'Exec=plumora %f' "$prefix/share/applications/$id.desktop"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop"
# Phones' photographs open from a file manager, and software centres say so.
for type in image/heic image/avif image/jxl image/webp; do
  grep -q "^MimeType=.*$type;" "$prefix/share/applications/$id.desktop" ||
    { echo "the desktop entry lacks $type" >&2; exit 1; }
  grep -q "<mediatype>$type</mediatype>" "$prefix/share/metainfo/$id.metainfo.xml" ||
    { echo "the AppStream file lacks $type" >&2; exit 1; }
done
# A recipe file is known by its name and opens with the program.
grep -q 'glob pattern="\*.plumora-recipe"' "$prefix/share/mime/packages/$id.xml"
grep -q '^MimeType=.*application/x-plumora-recipe;' "$prefix/share/applications/$id.desktop"
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >/dev/null
fi

# The manual page is whole roff and names every effect of the table.
man_page=$(mktemp)
trap 'rm -rf "$prefix" "$man_page"' EXIT
zcat "$prefix/share/man/man1/plumora-cli.1.gz" > "$man_page"
zcat "$prefix/share/man/man1/plumora.1.gz" | groff -man -ww -z
groff -man -ww -z "$man_page"
"$prefix/bin/plumora-cli" --list | awk '/^[a-z]/ {print $1}' | while read -r effect; do
  grep -q "^\.B ${effect//-/\\\\-}\$" "$man_page" ||
    { echo "the manual page lacks $effect" >&2; exit 1; }
done
# The Python module went where Python looks in that prefix (for a user's
# prefix, the user site: PYTHONUSERBASE stands in for ~/.local).
# A sanitizer build's module needs the sanitizer's runtime loaded into the
# interpreter first (PLUMORA_PYTHON_PRELOAD, set by the tests' build).
PYTHONUSERBASE="$prefix" PYTHONPATH= LD_PRELOAD=${PLUMORA_PYTHON_PRELOAD:-} /usr/bin/python3 - "$prefix" <<'EOF'
import sys
import plumora
assert plumora.__file__.startswith(sys.argv[1]), plumora.__file__
assert len(plumora.effects()) >= 17
EOF
# The installed tool runs from where it was installed.
"$prefix/bin/plumora-cli" --help >/dev/null
echo "installed and valid"
