"""Builds the globeforge Python module with CMake (the python preset) and packages it.

Offline, with Debian's setuptools, wheel and pybind11 (scripts/bootstrap --python-tests):

    pip install .
    python3 -m build --no-isolation --wheel

The CMake build folder is build/python and is kept between builds, so a second build only
compiles what changed.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
CMAKE_BUILD = ROOT / "build" / "python"
SETUPTOOLS_BUILD = ROOT / "build" / "setuptools"


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(
            ["cmake", "--preset", "python", f"-DPython_EXECUTABLE={sys.executable}"],
            cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "python", "-j", jobs], cwd=ROOT, check=True)
        built = sorted((CMAKE_BUILD / "python").glob("_globeforge*.so"),
                       key=lambda p: p.stat().st_mtime)
        if not built:
            sys.exit("setup.py: the CMake build made no _globeforge module")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[-1], target)


SETUPTOOLS_BUILD.mkdir(parents=True, exist_ok=True)
setup(
    name="globeforge",
    version="1.0",
    description="GlobeForge planets as numpy arrays",
    packages=["globeforge"],
    package_dir={"globeforge": "python/globeforge"},
    package_data={"globeforge": ["py.typed", "*.pyi"]},
    ext_modules=[CMakeExtension("globeforge._globeforge")],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
    zip_safe=False,
    options={
        "build": {"build_base": str(SETUPTOOLS_BUILD.relative_to(ROOT))},
        "egg_info": {"egg_base": str(SETUPTOOLS_BUILD.relative_to(ROOT))},
    },
)
