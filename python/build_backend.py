# SPDX-License-Identifier: MIT
"""The package's build backend (PEP 517): CMake builds the library and the
compiled modules and installs them, with a copy of the library, into a
scratch folder (component "python", python/CMakeLists.txt); the wheel is
zipped from there with the standard library alone.

It needs no setuptools, no wheel and no network, so `python3 -m pip install
.` works with any interpreter that has pip; what the build itself needs
(CMake, a C++ compiler) is named in one line when it is missing.
"""

import base64
import hashlib
import os
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "carvelle"
SUMMARY = "Write GDSII stream files from Python at the speed of the C library"
CLASSIFIERS = [
    "License :: OSI Approved :: MIT License",
    "Programming Language :: Python :: 3",
    "Programming Language :: C",
    "Programming Language :: C++",
    "Operating System :: POSIX :: Linux",
    "Operating System :: Microsoft :: Windows",
    "Topic :: Scientific/Engineering :: Electronic Design Automation (EDA)",
    "Typing :: Typed",
]
# Folders of the checkout that a source archive leaves out.
_NOT_SOURCE = {".git", "dist", "__pycache__"}


def _version():
    with open(os.path.join(ROOT, "VERSION")) as file:
        return file.read().strip()


def _metadata():
    with open(os.path.join(ROOT, "python", "README.md"), encoding="utf-8") as file:
        readme = file.read()
    lines = ["Metadata-Version: 2.1", "Name: " + NAME, "Version: " + _version(), "Summary: " + SUMMARY,
             "License: MIT", "Requires-Python: >=3.8"]
    lines += ["Classifier: " + c for c in CLASSIFIERS]
    lines += ["Provides-Extra: numpy", 'Requires-Dist: numpy; extra == "numpy"',
              "Description-Content-Type: text/markdown"]
    return "\n".join(lines) + "\n\n" + readme


def _require():
    """Stops with one line naming what to install when the build cannot run."""
    needs = []
    if shutil.which("cmake") is None:
        needs.append(("CMake", "cmake"))
    compilers = (os.environ.get("CXX") or "c++", "g++", "clang++")
    if os.name == "posix" and not any(shutil.which(c) for c in compilers):
        needs.append(("a C++ compiler", "g++"))
    if needs:
        raise SystemExit("carvelle: the build needs %s (Debian: sudo apt install %s)"
                         % (" and ".join(n for n, _ in needs), " ".join(p for _, p in needs)))


def _tag():
    """The wheel's tag: this interpreter and platform (it carries compiled code)."""
    if sys.implementation.name == "cpython":
        interpreter = "cp%d%d" % sys.version_info[:2]
        abi = interpreter + ("d" if hasattr(sys, "gettotalrefcount") else "")
    else:
        interpreter = "%s%d%d" % (sys.implementation.name[:2], *sys.version_info[:2])
        abi = (sysconfig.get_config_var("SOABI") or "none").replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (interpreter, abi, sysconfig.get_platform().replace("-", "_").replace(".", "_"))


def _build_into(stage):
    _require()
    build = os.path.join(os.path.dirname(stage), "cmake")
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DCARVELLE_BUILD_TESTS=OFF",
                 "-DCARVELLE_BUILD_EXAMPLES=OFF", "-DPython3_EXECUTABLE=" + sys.executable,
                 "-DCARVELLE_PYTHON_INSTALL_DIR=" + stage]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    for command in (configure, ["cmake", "--build", build, "--config", "Release", "-j", str(os.cpu_count() or 2)],
                    ["cmake", "--install", build, "--config", "Release", "--component", "python"]):
        subprocess.check_call(command, stdout=sys.stderr)


def _digest(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    tag = _tag()
    wheel = "%s-%s-%s.whl" % (NAME, _version(), tag)
    info = "%s-%s.dist-info" % (NAME, _version())
    with tempfile.TemporaryDirectory(prefix="carvelle-wheel-") as scratch:
        stage = os.path.join(scratch, "stage")
        _build_into(stage)
        if not any(name.startswith("_compiled.") for name in os.listdir(os.path.join(stage, NAME))):
            print("carvelle: no Python headers for %s, so no compiled module: the package calls the library "
                  "through ctypes (Debian: sudo apt install python3-dev)" % sys.executable, file=sys.stderr)
        records = []
        with zipfile.ZipFile(os.path.join(wheel_directory, wheel), "w", zipfile.ZIP_DEFLATED) as archive:
            def add(name, data, mode=0o644):
                entry = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
                entry.external_attr = (0o100000 | mode) << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(entry, data)
                records.append("%s,%s,%d" % (name, _digest(data), len(data)))

            for folder, _, files in sorted(os.walk(stage)):
                for file in sorted(files):
                    path = os.path.join(folder, file)
                    with open(path, "rb") as handle:
                        data = handle.read()
                    add(os.path.relpath(path, stage).replace(os.sep, "/"), data,
                        0o755 if os.access(path, os.X_OK) else 0o644)
            add(info + "/METADATA", _metadata().encode("utf-8"))
            add(info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: carvelle build_backend\nRoot-Is-Purelib: false\n"
                                  "Tag: %s\n" % tag).encode("ascii"))
            with open(os.path.join(ROOT, "LICENSE"), "rb") as handle:
                add(info + "/LICENSE", handle.read())
            records.append(info + "/RECORD,,")
            archive.writestr(info + "/RECORD", "\n".join(records) + "\n")
    return wheel


def build_sdist(sdist_directory, config_settings=None):
    top = "%s-%s" % (NAME, _version())
    with tarfile.open(os.path.join(sdist_directory, top + ".tar.gz"), "w:gz") as archive:
        for name in sorted(os.listdir(ROOT)):
            if name in _NOT_SOURCE or name.startswith("build") or name.endswith(".egg-info"):
                continue
            archive.add(os.path.join(ROOT, name), top + "/" + name,
                        filter=lambda entry: None if os.path.basename(entry.name) in _NOT_SOURCE else entry)
        data = _metadata().encode("utf-8")
        entry = tarfile.TarInfo(top + "/PKG-INFO")
        entry.size = len(data)
        with tempfile.TemporaryFile() as file:
            file.write(data)
            file.seek(0)
            archive.addfile(entry, file)
    return top + ".tar.gz"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []
