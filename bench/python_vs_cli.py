"""The same 2048 x 1024 render from the command line and from Python, run alternately.

Each run is a fresh process that renders and writes the maps: globeforge-render SETTINGS
--out-dir DIR, against `planet = gf.render(...); planet.save(DIR)` in a Python that imports
the installed module. The maps are BMP, so encoding is a small part of the time on both
sides. Prints every run's wall and CPU time (the CPU time, all threads, is the steadier
measure on a shared machine) and the medians; run it with the Python that has the module:

    build/python-venv/bin/python bench/python_vs_cli.py --runs 5
"""

import argparse
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MAPS = {"OutputColorMap": "color.bmp", "OutputBumpMap": "bump.bmp",
        "OutputSpeculerMap": "specular.bmp"}
PYTHON_RUN = """
import sys, globeforge as gf
s = gf.Settings.load(sys.argv[1])
gf.render(s, size=(int(sys.argv[3]), int(sys.argv[4])), threads=int(sys.argv[5])).save(sys.argv[2])
"""


def timed(command):
    """Wall time and CPU time (user + system, all threads) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--renderer", default=str(ROOT / "build/release/globeforge-render"))
    parser.add_argument("--settings", default=str(ROOT / "examples/cloudy.ORB"))
    parser.add_argument("--size", default="2048x1024")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    width, height = args.size.split("x")

    import globeforge as gf

    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch)
        settings = gf.Settings.load(args.settings)
        for key, name in MAPS.items():
            settings[key] = name
        settings.save(str(folder / "bench.ORB"))
        sides = {
            "command line": [args.renderer, folder / "bench.ORB", "--size", args.size,
                             "--threads", str(args.threads), "--quiet", "--out-dir",
                             folder / "cli"],
            "python": [sys.executable, "-c", PYTHON_RUN, folder / "bench.ORB", folder / "py",
                       width, height, str(args.threads)],
        }
        times = {side: [] for side in sides}
        for run in range(args.runs):
            for side, command in sides.items():
                times[side].append(timed([str(part) for part in command]))
                wall, cpu = times[side][-1]
                print(f"run {run + 1} {side}: wall {wall:.2f} s, cpu {cpu:.2f} s", flush=True)
        for name in MAPS.values():
            same = (folder / "cli" / name).read_bytes() == (folder / "py" / name).read_bytes()
            print(f"{name}: {'same' if same else 'DIFFERENT'}")
    for i, measure in enumerate(["wall", "cpu"]):
        medians = {side: statistics.median(t[i] for t in runs) for side, runs in times.items()}
        for side, median in medians.items():
            print(f"{side}: median {measure} {median:.2f} s of {args.runs}")
        ratio = medians["python"] / medians["command line"]
        print(f"python / command line, {measure}: {ratio:.3f}")


if __name__ == "__main__":
    main()
