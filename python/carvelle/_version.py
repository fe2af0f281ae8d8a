# SPDX-License-Identifier: MIT
"""The package's version, read from the one VERSION file of the project."""

import os


def _read() -> str:
    here = os.path.dirname(os.path.abspath(__file__))
    # Installed packages carry a copy; a checkout has it two folders up.
    for candidate in (os.path.join(here, "VERSION"), os.path.join(here, "..", "..", "VERSION")):
        try:
            with open(candidate, encoding="ascii") as file:
                return file.read().strip()
        except OSError:
            continue
    return "0+unknown"


VERSION = _read()
