#!/usr/bin/env bash
# Builds the Debian package from the built tree, unpacks it into a temporary
# root as dpkg would install it, and runs what it holds from there.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out" >/dev/null
debs=("$work"/out/plumora_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -s "${debs[0]}" ] || { echo "no package was made" >&2; exit 1; }
deb=${debs[0]}

# Everything the programs link is declared, and nothing is left to the
# machine that built it.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libjpeg62-turbo libgif7 liblz4-1 libuemf0 qt6-qpa-plugins python3-numpy; do
  grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends" >&2; exit 1; }
done

root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/plumora usr/bin/plumora-cli usr/share/applications/io.github.plumora.Plumora.desktop \
  usr/share/metainfo/io.github.plumora.Plumora.metainfo.xml usr/share/man/man1/plumora-cli.1.gz \
  usr/share/man/man1/plumora.1.gz usr/share/doc/plumora/copyright usr/share/doc/plumora/changelog.gz \
  usr/share/icons/hicolor/scalable/apps/io.github.plumora.Plumora.svg; do
  [ -s "$root/$f" ] || { echo "the package lacks /$f" >&2; exit 1; }
done
# Nothing outside /usr, where dpkg alone keeps track of what it put.
[ "$(ls "$root")" = usr ] || { echo "the package installs outside /usr: $(ls "$root")" >&2; exit 1; }
if ldd "$root/usr/bin/plumora" "$root/usr/bin/plumora-cli" | grep -q "not found"; then
  echo "a library the programs need is missing" >&2
  exit 1
fi

"$root/usr/bin/plumora-cli" --list | grep -q '^pen-sketch'
"$root/usr/bin/plumora-cli" pen-sketch "$(dirname "$0")/../../resources/demo_photo.bmp" "$work/out.bmp"
[ -s "$work/out.bmp" ]
PYTHONPATH="$root/usr/lib/python3/dist-packages" PYTHONNOUSERSITE=1 /usr/bin/python3 - "$root" <<'PY'
import sys
import plumora
assert plumora.__file__.startswith(sys.argv[1]), plumora.__file__
assert "pen-sketch" in [e["name"] for e in plumora.effects()]
PY

if command -v lintian >/dev/null; then
  # Errors fail the test; warnings and notes are shown for whoever reads.
  report=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  [ -z "$report" ] || echo "$report"
  if grep -q '^E:' <<<"$report"; then exit 1; fi
fi
echo "package made and runs from where it unpacks"
