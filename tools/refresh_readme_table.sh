#!/usr/bin/env bash
# Rewrites README.md's table of effects with what the built plumora-cli
# prints for --list --markdown (cli_test fails while the two differ).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${PLUMORA_BUILD_DIR:-build}/plumora-cli
table=$("$cli" --list --markdown)
# Through the environment: awk -v would read the table's backslashes as escapes.
table="$table" awk '
  /<!-- effects table ends -->/ { print ENVIRON["table"]; copying = 1 }
  copying || !seen { print }
  /<!-- effects table begins -->/ { seen = 1; copying = 0 }
' README.md > README.md.new
mv README.md.new README.md
