"""The Python module against the command line: the same pixels, files, globe and asset, and
the module's own behaviour (Ctrl-C, progress, errors)."""

import os
import signal
import threading
import time
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import globeforge as gf

ROOT = Path(__file__).resolve().parents[2]
SIZE = (96, 48)
ALL_MAPS = {"OutputColorMap": "color.png", "OutputSpeculerMap": "specular.png",
            "OutputBumpMap": "bump.png", "OutputCloudColorMap": "cloud_color.png",
            "OutputCloudBumpMap": "cloud_bump.png",
            "OutputCloudTransparencyMap": "cloud_transparency.png",
            "OutputNormalMap": "normal.png"}
GROUND_MAPS = {k: v for k, v in ALL_MAPS.items() if "Cloud" not in k}


def settings_of(name, folder):
    """Three planets: clouds apart from the ground with every map, craters, and a ground and
    clouds from pictures."""
    if name == "pictures":
        s = gf.Settings()
        rng = np.random.default_rng(5)
        for key, file in (("LoadHeightmap", "ground.png"), ("LoadCloudAlpha", "sky.png")):
            pixels = rng.integers(0, 256, (20, 40, 3), dtype=np.uint8)
            Image.fromarray(pixels).save(folder / file)
            s[key] = str(folder / file)
        s["CoastLevel"] = 30
        maps = ALL_MAPS
    else:
        s = gf.Settings.load(str(ROOT / f"examples/{name}.ORB"))
        maps = ALL_MAPS if name == "cloudy" else GROUND_MAPS
    for key, file in maps.items():
        s[key] = file
    return s


@pytest.fixture(scope="module", params=["cloudy", "moon", "pictures"])
def cli_planet(request, tmp_path_factory, cli):
    """A planet's settings and the folder the command line wrote its maps into."""
    folder = tmp_path_factory.mktemp(request.param)
    settings = settings_of(request.param, folder)
    settings.save(str(folder / "planet.ORB"))
    cli(folder / "planet.ORB", "--size", "%dx%d" % SIZE, "--out-dir", folder / "cli",
        "--threads", 2, "--quiet")
    return settings, folder / "cli"


def decoded(path, grey):
    pixels = np.asarray(Image.open(path))
    if grey and pixels.ndim == 3:
        assert (pixels == pixels[..., :1]).all(), f"{path} is not grey"
        pixels = pixels[..., 0]
    return pixels


@pytest.mark.parametrize("threads", [1, 2])
def test_arrays_and_saved_files_equal_the_command_lines(cli_planet, threads, tmp_path):
    settings, cli_folder = cli_planet
    planet = gf.render(settings, size=SIZE, threads=threads)
    files = sorted(p.name for p in cli_folder.iterdir())
    assert files and sorted(planet.maps) == sorted(f[:-4] for f in files)
    for file in files:
        role = file[:-4]
        array = planet[role]
        assert array.shape[:2] == (SIZE[1], SIZE[0])
        np.testing.assert_array_equal(array, decoded(cli_folder / file, array.ndim == 2), role)
    np.testing.assert_array_equal(np.clip(np.rint(planet.height), 0, 255), planet.bump)
    written = planet.save(str(tmp_path / "py"))
    assert sorted(Path(p).name for p in written) == files
    for file in files:
        assert (tmp_path / "py" / file).read_bytes() == (cli_folder / file).read_bytes(), file
    assert gf.Settings.from_map(str(cli_folder / "color.png")) == planet.settings


def test_globe_and_gltf_equal_the_command_lines(cli, tmp_path):
    settings = settings_of("cloudy", tmp_path)
    settings.save(str(tmp_path / "planet.ORB"))
    cli(tmp_path / "planet.ORB", "--size", "%dx%d" % SIZE, "--out-dir", tmp_path, "--quiet",
        "--globe", "globe.png", "--globe-size", 64, "--globe-view", "30,10",
        "--globe-sun", "60,15", "--gltf", "cli.glb")
    planet = gf.render(settings, size=SIZE, threads=2)
    picture = gf.globe(planet, size=64, view=(30, 10), sun=(60, 15))
    assert picture.shape == (64, 64, 4) and picture.dtype == np.uint8
    np.testing.assert_array_equal(picture, np.asarray(Image.open(tmp_path / "globe.png")))
    planet.export_gltf(str(tmp_path / "py.glb"))
    assert (tmp_path / "py.glb").read_bytes() == (tmp_path / "cli.glb").read_bytes()


def test_ctrl_c_stops_a_large_render_quickly_and_the_next_one_works():
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(1.5, interrupt)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            gf.render(gf.Settings.load(str(ROOT / "examples/cloudy.ORB")), size=(2048, 1024))
        stopped = time.monotonic()
    finally:
        timer.cancel()
    assert sent, "the render ended before the interrupt"
    assert stopped - sent[0] < 0.5
    assert gf.render(gf.Settings(), size=(32, 16)).color.shape == (16, 32, 3)


def test_progress_sees_every_stage_in_order(cli, tmp_path):
    settings = settings_of("moon", tmp_path)
    settings.save(str(tmp_path / "planet.ORB"))
    lines = cli(tmp_path / "planet.ORB", "--size", "64x32", "--out-dir", tmp_path,
                "--lang", "en").splitlines()
    expected = [line for line in lines if not line.startswith("wrote ")]
    seen = []
    gf.render(settings, size=(64, 32), progress=lambda message, fraction:
              seen.append((message, fraction)))
    assert all(0.0 <= f <= 1.0 for _, f in seen)
    stages = [m for i, (m, _) in enumerate(seen) if i == 0 or m != seen[i - 1][0]]
    assert stages == expected and stages[-1] == "Render finished."


def test_progress_exception_stops_the_render():
    def fail(message, fraction):
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        gf.render(gf.Settings(), size=(256, 128), progress=fail)


def test_bad_keys_values_sizes_and_paths_raise(tmp_path):
    s = gf.Settings()
    with pytest.raises(KeyError):
        s["NoSuchKey"] = 1
    with pytest.raises(ValueError, match="CoastLevel: 'banana' is not a whole number from 0 to 100"):
        s["CoastLevel"] = "banana"
    with pytest.raises(ValueError, match="CoastLevel.* 0 to 100"):
        s["CoastLevel"] = 101
    with pytest.raises(ValueError, match="GroundColorHigh"):
        s["GroundColorHigh"] = "$zz"
    with pytest.raises(ValueError, match="GroundColorHigh"):
        s["GroundColorHigh"] = (1, 2, 300)
    with pytest.raises(TypeError):
        s["CoastLevel"] = 1.5
    s["CoastLevel"] = 40
    s["SeaColorDeep"] = (15, 40, 80)
    assert s["CoastLevel"] == 40 and s["SeaColorDeep"] == "$0050280f"
    for size in [(0, 16), (16, -1), (1 << 20, 1 << 20)]:
        with pytest.raises(ValueError):
            gf.render(s, size=size)
    for bad in [dict(oversampling=10), dict(threads=0), dict(seed=1 << 40)]:
        with pytest.raises(ValueError):
            gf.render(s, size=(16, 16), **bad)
    with pytest.raises(FileNotFoundError):
        gf.Settings.load(str(tmp_path / "missing.ORB"))
    with pytest.raises(FileNotFoundError):
        gf.Settings.from_map(str(tmp_path / "missing.png"))
    (tmp_path / "plain.png").write_bytes(b"not a picture")
    with pytest.raises(ValueError):
        gf.Settings.from_map(str(tmp_path / "plain.png"))
    with pytest.raises(FileNotFoundError):
        s.save(str(tmp_path / "no/such/folder/x.ORB"))
    planet = gf.render(s, size=(32, 16))
    with pytest.raises(ValueError):
        planet.save(str(tmp_path / "out"))  # no map is named
    with pytest.raises(ValueError):
        planet.export_gltf(str(tmp_path / "planet.obj"))
    with pytest.raises(FileNotFoundError):
        planet.export_gltf(str(tmp_path / "no/such/planet.glb"))
    with pytest.raises(ValueError):
        gf.globe(planet, size=4)
    s["OutputColorMap"] = "c.png"
    (tmp_path / "taken").write_text("a file, not a folder")
    with pytest.raises(OSError):
        gf.render(s, size=(32, 16)).save(str(tmp_path / "taken"))
