#!/usr/bin/env bash
# The same batch of photographs with plumora-cli and with the Dask batch on
# a local cluster of two worker processes: 200 JPEGs of 12 MP (4240 x 2832)
# by default, pen sketch, outputs as JPEG.
#
#   bash bench/python_batch.sh [BUILD_DIR] [FILES]
set -euo pipefail
build=$(realpath "${1:-build}")
count=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PYTHONPATH=$build/python

# Photograph-like pictures: shading, hard edges, noise; each file its own.
/usr/bin/python3 - "$work" "$count" <<'PY'
import os, sys
import numpy as np
import plumora
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(f"{folder}/in")
h, w = 2832, 4240
y, x = np.mgrid[0:h, 0:w]
base = np.dstack([x * 255 // w, y * 255 // h, (x + y) * 255 // (w + h)]).astype(np.int16)
edges = (((x // 97) + (y // 61)) % 2 == 0)[..., None] * np.array([0, 40, 0], np.int16)
rng = np.random.default_rng(1)
first = None
for i in range(count):
    if i < 8:
        noise = rng.integers(-8, 8, size=(h, w, 1), dtype=np.int16)
        image = np.clip(base + edges + noise + i, 0, 255).astype(np.uint8)
        plumora.write(f"{folder}/in/photo{i:03}.jpg", image)
    else:  # the rest copies of the first eight: writing 200 takes long
        os.link(f"{folder}/in/photo{i % 8:03}.jpg", f"{folder}/in/photo{i:03}.jpg")
PY

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }
inputs=("$work"/in/*.jpg)
cli=$(seconds "$build/plumora-cli" pen-sketch "${inputs[@]}" --output-dir "$work/cli")
dask=$(seconds /usr/bin/python3 -m plumora.batch pen-sketch "${inputs[@]}" --output-dir "$work/dask" --workers 2)
start=$(seconds /usr/bin/python3 -m plumora.batch pen-sketch "${inputs[0]}" --output-dir "$work/one" --workers 2)
cmp -s <(cd "$work/cli" && cat *) <(cd "$work/dask" && cat *) && same=yes || same=NO
echo "files: $count x 12 MP JPEG, pen-sketch, $(nproc) cores"
echo "plumora-cli batch:                 $cli s"
echo "plumora.batch, local cluster of 2: $dask s (one file alone: $start s, the cluster's start included)"
/usr/bin/python3 -c "import sys; c, d, s, n = map(float, sys.argv[1:]); print(f'per file: plumora-cli {c / n * 1000:.0f} ms, Dask {d / n * 1000:.0f} ms; Dask adds {(d - s - c) / n * 1000:.0f} ms a file besides {s:.1f} s to start')" "$cli" "$dask" "$start" "$count"
echo "outputs byte-identical: $same"
