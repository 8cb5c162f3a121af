"""How much plumora's Python functions add to an effect's own time: the
hand-over of the picture in and out.

    PYTHONPATH=build/python python3 bench/python_handover.py [build/bench/plumora_bench]

At 12 and 24 megapixels (the pictures of plumora_bench), the fastest of
15 runs of each (on a machine shared with other work, the run least
disturbed by it) of
  - copy: np.copy of the (H, W, 3) array, the unit of the targets;
  - effect: the pen sketch alone in C++, from plumora_bench's PenSketch;
  - array: plumora.pen_sketch(array), which should stay within the effect
    and 2 copies;
  - Pillow: plumora.pen_sketch(Image), an RGB Image in and out, within the
    effect and 4 copies.
Not a test (the tests never time anything): it prints the figures, and
whether each target holds, for docs/performance.md.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

import plumora

SIZES = {"12MP": (4240, 2832, 1), "24MP": (6000, 4000, 2)}  # width, height, plumora_bench's argument
RUNS = 15


def photo(width, height):
    """Shading, hard-edged stripes and some noise, as plumora_bench's photo."""
    x = np.arange(width)[None, :]
    y = np.arange(height)[:, None]
    noise = np.random.default_rng(12345).integers(-8, 8, (height, width))
    stripe = ((x // 97 + y // 61) % 2 == 0) * 40
    red = np.clip((128 + 100 * np.sin(x * 0.01 + y * 0.02)).astype(int) + noise, 0, 255)
    green = np.clip(y * 255 // height + noise + stripe, 0, 255)
    blue = np.clip(x * 255 // width + noise, 0, 255)
    return np.dstack([red, green, blue]).astype(np.uint8)


def fastest_ms(fn):
    fn()  # the first run pays for fresh pages
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times) * 1000


def effect_ms(bench):
    """The pen sketch's own fastest times, by plumora_bench's argument."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=^PenSketch/[12]/", "--benchmark_repetitions=15",
                        "--benchmark_out_format=json", "--benchmark_out=" + out.name], capture_output=True, check=True)
        results = json.load(out)["benchmarks"]
    fastest = {}
    for b in results:
        if b.get("run_type") == "iteration":
            argument = int(b["run_name"].split("/")[1])
            fastest[argument] = min(fastest.get(argument, b["real_time"]), b["real_time"])
    return fastest


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "bench", "plumora_bench")
    effect = effect_ms(bench)
    print("| size | copy | effect | pen_sketch(array) | target | pen_sketch(Image) | target |")
    print("|---|---|---|---|---|---|---|")
    held = True
    for name, (width, height, argument) in SIZES.items():
        array = photo(width, height)
        picture = Image.fromarray(array)
        copy = fastest_ms(lambda: np.copy(array))
        own = effect[argument]
        with_array = fastest_ms(lambda: plumora.pen_sketch(array))
        with_image = fastest_ms(lambda: plumora.pen_sketch(picture))
        array_target, image_target = own + 2 * copy, own + 4 * copy
        held = held and with_array <= array_target and with_image <= image_target
        print(f"| {name} | {copy:.1f} ms | {own:.1f} ms | {with_array:.1f} ms | {array_target:.1f} ms "
              f"{'holds' if with_array <= array_target else 'MISSED'} | {with_image:.1f} ms | {image_target:.1f} ms "
              f"{'holds' if with_image <= image_target else 'MISSED'} |")
    return 0 if held else 1


if __name__ == "__main__":
    sys.exit(main())
