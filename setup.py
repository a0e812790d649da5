# Builds the extension module kavet._kavet with kavet's CMake (in
# build/python, tests off) and places it in the package; see pyproject.toml.
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = ROOT / "build" / "python"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DKAVET_TESTS=OFF", "-DKAVET_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_kavet",
                               "-j", os.environ.get("JOBS", "2")])
        built = next((build / "python" / "kavet").glob("_kavet*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("kavet._kavet", sources=[])], cmdclass={"build_ext": CMakeBuild})
