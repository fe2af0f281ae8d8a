# SPDX-License-Identifier: MIT
"""Run by check_pip_install.sh in a folder outside the checkout, with the
venv's interpreter: the installed package (not the checkout's) writes the
every-element library through the backend that CARVELLE_BACKEND names,
and the file equals the one the same calls make from C, timestamps masked.

Usage: installed_check.py SOURCE C_REFERENCE"""

import os
import subprocess
import sys

source, reference = os.path.realpath(sys.argv[1]), sys.argv[2]
sys.path.append(os.path.join(source, "tests", "bindings"))  # the shared calls, after the installed package

import carvelle  # noqa: E402
from conftest import masked  # noqa: E402
from test_python_bytes import write_every  # noqa: E402

package = os.path.dirname(os.path.realpath(carvelle.__file__))
assert package.startswith(os.path.realpath(sys.prefix) + os.sep), "not the venv's: %s" % package
assert not os.getcwd().startswith(source + os.sep)
assert carvelle.backend == os.environ["CARVELLE_BACKEND"], carvelle.backend
assert os.path.dirname(os.path.realpath(carvelle.library_path())) == package, carvelle.library_path()

os.makedirs(carvelle.backend)
os.makedirs("c-" + carvelle.backend)
os.chdir(carvelle.backend)
with carvelle.Library("out.gds", user_unit=0.5, meter_unit=2.5e-10) as lib:
    write_every(lib)
os.chdir(os.path.join("..", "c-" + carvelle.backend))
subprocess.run([reference, "every", "out.gds"], check=True)
os.chdir("..")
with open(os.path.join(carvelle.backend, "out.gds"), "rb") as python_file, \
        open(os.path.join("c-" + carvelle.backend, "out.gds"), "rb") as c_file:
    assert masked(python_file.read()) == masked(c_file.read()), "the files differ"
print("installed carvelle %s (%s backend) in %s writes the bytes C writes"
      % (carvelle.__version__, carvelle.backend, package))
