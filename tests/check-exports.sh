#!/usr/bin/env bash
# The shared library defines exactly the functions the public header
# declares, and no other dynamic symbol.
set -euo pipefail
library=$1
header=$2

expected=$(tr '\n' ' ' < "$header" | grep -o 'QELTBLE_API [^;(]*(' | grep -o 'QELTBLE_[A-Za-z]*($' | tr -d '(' | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)

if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from the header:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
count=$(echo "$actual" | wc -l)
if [ "$count" -ne 31 ]; then
  echo "expected 31 exports, found $count"
  exit 1
fi
echo "31 exports, nothing else"
