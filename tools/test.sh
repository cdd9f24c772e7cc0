#!/usr/bin/env bash
# Builds Brisolta and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh icoutils desktop-file-utils appstream lintian
export QT_QPA_PLATFORM=offscreen

ctest --test-dir build --output-on-failure -j2
