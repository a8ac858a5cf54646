#!/usr/bin/env bash
# Fails when a file of the report engine includes a Qt or libcups header, or a folder of the
# engine includes one that stands above it: base -> output -> production -> model -> engine.
# The report and its engine drive each other; that one cycle stays behind forward declarations,
# so engine headers may be included by model sources only.
set -u
root=$1
status=0
hits=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]|qt|Qt|cups/)' "$root" --include='*.h' --include='*.cpp')
if [ -n "$hits" ]; then
  echo "the report engine includes platform libraries:"
  echo "$hits"
  status=1
fi
layers=(base output production model engine)
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }
while IFS=: read -r file line text; do
  from=${file#"$root"/}; from=${from%%/*}
  to=$(sed -nE 's@.*#[[:space:]]*include[[:space:]]*"report/([a-z]+)/.*@\1@p' <<<"$text")
  [ -n "$to" ] || continue
  rf=$(rank "$from"); rt=$(rank "$to")
  [ "$rf" -ge 0 ] && [ "$rt" -ge 0 ] || continue
  if [ "$rt" -gt "$rf" ]; then
    # the one allowed cycle: a model source (not a header) may include the engine
    if [ "$from" = model ] && [ "$to" = engine ] && [[ $file == *.cpp ]]; then continue; fi
    echo "wrong-way include: $from includes $to at ${file#"$root"/}:$line"
    status=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"report/' "$root" --include='*.h' --include='*.cpp')
[ $status -eq 0 ] && echo "report layers in order, no Qt or libcups include under $root"
exit $status
