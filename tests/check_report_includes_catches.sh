#!/usr/bin/env bash
# The layer check must fail, not merely pass: on a scratch copy of the report engine it must
# report a wrong-way include, a model header that includes the engine, and a Qt include, each
# put in on purpose, and accept the copy as it stands.
set -eu
check=$1
root=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$root" "$scratch/report"
"$check" "$scratch/report" >/dev/null || { echo "the unchanged copy fails the check"; exit 1; }

expect_failure() {
  local file=$1 line=$2 why=$3
  cp "$scratch/report/$file" "$scratch/saved"
  printf '%s\n' "$line" >> "$scratch/report/$file"
  if "$check" "$scratch/report" >/dev/null; then
    echo "the check passed $why ($file: $line)"
    exit 1
  fi
  cp "$scratch/saved" "$scratch/report/$file"
}
expect_failure base/units.h '#include "report/output/page.h"' "a base header that includes the output layer"
expect_failure output/page.h '#include "report/production/producer.h"' "an output header that includes the producer"
expect_failure model/report.h '#include "report/engine/engine.h"' "a model header that includes the engine"
expect_failure engine/engine.cpp '#include <QString>' "a Qt include"
expect_failure base/units.h '#include <cups/cups.h>' "a libcups include"
echo "the layer check catches every wrong-way include put in on purpose"
