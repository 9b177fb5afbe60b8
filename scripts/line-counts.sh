#!/usr/bin/env bash
# Non-blank lines of code (C++, C, shell, Python) per folder, and the size of the tests
# against the code they test: tests/ over src/. bench/ and fuzz/ are counted apart.
set -euo pipefail
cd "$(dirname "$0")/.."

count() { # count DIR: non-blank lines of the code files under DIR
  find "$1" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.sh' -o -name '*.py' \) \
    -print0 | xargs -0 -r cat | grep -cv '^[[:space:]]*$' || true
}

for top in src tests; do
  for dir in "$top"/*/; do
    [ -d "$dir" ] && printf '%-28s %6d\n' "${dir%/}" "$(count "$dir")"
  done
done
src=$(count src)
tests=$(count tests)
printf '%-28s %6d\n' src "$src" tests "$tests" bench "$(count bench)" fuzz "$(count fuzz)"
awk -v t="$tests" -v s="$src" 'BEGIN { printf "tests / src                  %6.2f\n", t / s }'
