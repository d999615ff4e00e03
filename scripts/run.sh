#!/usr/bin/env bash
# Starts Tallyvane: for now the command line shows what the program knows.
set -euo pipefail
binary=${1:-build/dev/tallyvane}
"$binary" --help
"$binary" --dumpstore
