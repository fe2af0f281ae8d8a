#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built project into a scratch prefix, then builds and runs a
# host program against it (consume.sh).
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
"$source/consume.sh" "$scratch/prefix" "$scratch"
