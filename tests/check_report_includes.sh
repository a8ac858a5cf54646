#!/usr/bin/env bash
# Fails when a file of the report engine includes a Qt or libcups header.
set -u
hits=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]|qt|Qt|cups/)' "$1" --include='*.h' --include='*.cpp')
if [ -n "$hits" ]; then
  echo "the report engine includes platform libraries:"
  echo "$hits"
  exit 1
fi
echo "no Qt or libcups include under $1"
