"""pip's way in: the module is built by CMake, and the project's install
rules (component `python`) put it into the wheel with the ONNX Runtime
library it needs. The type stubs go in as the stub-only package
nubracore-stubs. The version is CMake's project version."""

import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

TOP = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve()
        destination = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        subprocess.run([TOP / "scripts/bootstrap"], check=True)
        subprocess.run(["cmake", "-S", TOP, "-B", build, f"-DPython_EXECUTABLE={sys.executable}",
                        "-DBUILD_TESTING=OFF"], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "nubracore", "-j", str(os.cpu_count())], check=True)
        subprocess.run(["cmake", "--install", build, "--component", "python", "--prefix", destination], check=True)


setup(
    version=re.search(r"project\(nubracore VERSION ([\d.]+)", (TOP / "CMakeLists.txt").read_text())[1],
    ext_modules=[Extension("nubracore", [])],
    cmdclass={"build_ext": CMakeBuild},
    packages=["nubracore-stubs"],
    package_dir={"nubracore-stubs": "stubs/nubracore-stubs"},
    package_data={"nubracore-stubs": ["__init__.pyi"]},
    options={"build": {"build_base": "build-python"}},
)
