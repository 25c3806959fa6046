#!/usr/bin/env bash
# Fails, naming each file, when a C++ source of the repository is not laid out as .clang-format
# says. The layout is pinned to clang-format 14: another major version formats differently.
# With --fix the listed files are formatted in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
fi

formatter=""
for candidate in clang-format-14 clang-format; do
  if command -v "$candidate" >/dev/null && "$candidate" --version | grep -q 'version 14\.'; then
    formatter=$candidate
    break
  fi
done
if [ -z "$formatter" ]; then
  echo "check-format: clang-format 14 not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

# Tracked files only when this is a git checkout, so scratch files and build folders are ignored.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' \
    'bench/*.h' 'bench/*.cpp' ':!tests/data/*')
else
  mapfile -t files < <(find src tests bench -path tests/data -prune -o \
    \( -name '*.h' -o -name '*.cpp' \) -print | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no source files found" >&2
  exit 2
fi

# One call for all files; each unformatted file reports at least one violation line.
mapfile -t bad < <("$formatter" --dry-run "${files[@]}" 2>&1 |
  sed -n 's/^\(.*\):[0-9]*:[0-9]*: .*\[-Wclang-format-violations\]$/\1/p' | sort -u)
if [ ${#bad[@]} -eq 0 ]; then
  echo "check-format: ${#files[@]} files formatted as .clang-format says"
  exit 0
fi
if [ "$fix" -eq 1 ]; then
  "$formatter" -i "${bad[@]}"
  printf 'check-format: formatted %s\n' "${bad[@]}"
  exit 0
fi
echo "check-format: ${#bad[@]} file(s) not formatted as .clang-format says:" >&2
printf '  %s\n' "${bad[@]}" >&2
echo "Run scripts/check-format.sh --fix (or $formatter -i on those files)." >&2
exit 1
