#!/usr/bin/env bash
# Installs what the build needs, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
vellomar_install_deps
vellomar_build
ctest --test-dir build --output-on-failure -j2
