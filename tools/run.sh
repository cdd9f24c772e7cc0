#!/usr/bin/env bash
# Builds Brisolta and starts it; archivio.mdb lives beside the executable, in build/app/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
exec build/app/Brisolta
