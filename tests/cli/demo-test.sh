#!/usr/bin/env bash
# Runs scripts/demo on a folder of its own with the built sonoprog-cli and
# checks that it passed and left its log files where it says.
set -euo pipefail
root=$1
export BUILD_DIR=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/sonoprog-demo-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$(SONOPROG_DEMO_DIR="$work/demo" bash "$root/scripts/demo" 2>&1)
echo "$out"
grep -q '^The demonstration passed\.$' <<<"$out"
grep -q "^Log files (PGM_, VRF_): $work/demo/Temp\$" <<<"$out"
ls "$work/demo/Temp"/PGM_*.log "$work/demo/Temp"/VRF_*.log >/dev/null
# A written image verifies: the PGM log of a chip without bad pages is empty.
pgm_logs=("$work/demo/Temp"/PGM_*.log)
[ ! -s "${pgm_logs[0]}" ]
[ "$(stat -c %s "$work/demo/writer/tarn20.bin")" = 134217728 ]
[ "$(stat -c %s "$work/demo/writer/kiva300.bin")" = 4096 ]
# The production part: four units, the third bad, each with its record.
grep -q '^TOTAL 4 PASS 3 FAIL 1 YIELD 75.0%$' <<<"$out"
[ "$("$BUILD_DIR/bin/sonoprog-cli" --records "$work/demo/records.sqlite" records --json |
    grep -c '"kind":"record"')" = 4 ]
