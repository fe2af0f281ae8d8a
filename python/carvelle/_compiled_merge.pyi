# SPDX-License-Identifier: MIT
# Types of the C++ module python/ext/merge.cpp.
import os
from typing import Sequence, Tuple, Union

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

def merge(output: _Path, parts: Sequence[_Path]) -> Tuple[int, str, int, int]: ...
