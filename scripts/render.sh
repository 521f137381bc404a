#!/usr/bin/env bash
# Builds the shader library and umbrex-render in build/ (installing missing
# Debian packages) and renders: with no arguments the built-in scene to
# umbrex.png; any arguments go to umbrex-render.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make g++ libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev libcli11-dev libassimp-dev libminizip-dev pkg-config libcpp-httplib-dev

cmake -S . -B build -DBUILD_TESTING=OFF > /dev/null
cmake --build build -j"$(nproc)" --target umbrex-render
if (($# == 0)); then
  set -- --output umbrex.png
fi
exec build/umbrex-render "$@"
