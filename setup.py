# SPDX-License-Identifier: MIT
"""Builds the carvelle wheel: CMake builds the library and the package's
compiled modules (python/CMakeLists.txt lists them) and installs them, with
a copy of the library, into the package folder of the build."""

import os
import shutil
import subprocess
import sys

from setuptools import Distribution, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class BinaryDistribution(Distribution):
    """A wheel for one platform: the package carries a shared library."""

    def has_ext_modules(self):
        return True


class CMakeBuild(build_ext):
    def run(self):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        target = os.path.abspath(self.build_lib)
        configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     "-DCARVELLE_BUILD_TESTS=OFF", "-DCARVELLE_BUILD_EXAMPLES=OFF",
                     "-DPython3_EXECUTABLE=" + sys.executable, "-DCARVELLE_PYTHON_INSTALL_DIR=" + target]
        if shutil.which("ninja") and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            configure += ["-G", "Ninja"]
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", build, "--config", "Release", "-j", str(os.cpu_count() or 2)])
        subprocess.check_call(["cmake", "--install", build, "--config", "Release", "--component", "python"])


setup(distclass=BinaryDistribution, cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-python"}})
