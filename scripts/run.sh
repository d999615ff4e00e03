#!/usr/bin/env bash
# Starts Tallyvane: until the tray application exists, a forecast report on demo data.
set -euo pipefail
binary=${1:-build/dev/tallyvane}
"$binary" status --demo
