#!/usr/bin/env bash
# Runs clang-tidy 22 with the repository's .clang-tidy over the sources of src/, using the
# compile_commands.json of a build folder, and fails when it finds anything. Headers of src/ are
# checked through the sources that include them; a finding in a header is reported once.
#
#   scripts/clang-tidy.sh [--build DIR] [--jobs N] [--changed [REF]] [FILE...]
#
# --build DIR      build folder holding compile_commands.json (default: build; configured when
#                  it has none yet)
# --jobs N         clang-tidy processes at once (default: the number of cores)
# --changed [REF]  only the sources changed since the merge base with REF (default main), with
#                  uncommitted changes, plus the sources that include a changed header
# FILE...          only these sources
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=build
jobs=$(nproc)
changed=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --changed)
      changed=main
      if [ $# -gt 1 ] && [ "${2#-}" = "$2" ] && git rev-parse -q --verify "$2^{commit}" >/dev/null; then
        changed=$2
        shift
      fi
      shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "clang-tidy.sh: unknown option $1" >&2; exit 2 ;;
    *) files+=("$1"); shift ;;
  esac
done

tidy=""
for candidate in clang-tidy-22 clang-tidy; do
  if command -v "$candidate" >/dev/null && "$candidate" --version | grep -q 'version 22\.'; then
    tidy=$candidate
    break
  fi
done
if [ -z "$tidy" ]; then
  echo "clang-tidy.sh: clang-tidy 22 not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

build=$(cd "$root" && mkdir -p "$build" && cd "$build" && pwd)
if [ ! -f "$build/compile_commands.json" ]; then
  # Configuring is enough: no source of src/ includes a generated file.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi

# The sources of src/ the build compiles (generated moc files and other folders are skipped).
mapfile -t known < <(python3 - "$build/compile_commands.json" "$root" <<'EOF'
import json, os, sys
root = os.path.realpath(sys.argv[2]) + "/src/"
for entry in json.load(open(sys.argv[1])):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root):
        print(os.path.relpath(path, os.path.dirname(root.rstrip("/"))))
EOF
)
mapfile -t known < <(printf '%s\n' "${known[@]}" | sort -u)

if [ -n "$changed" ]; then
  base=$(git merge-base "$changed" HEAD)
  mapfile -t touched < <({ git diff --name-only "$base" -- src; git diff --name-only -- src;
                           git ls-files --others --exclude-standard -- src; } | sort -u)
  for f in "${touched[@]}"; do
    case "$f" in
      *.cpp) files+=("$f") ;;
      *.h)
        header=${f#src/}
        mapfile -t users < <(grep -rlF "#include \"$header\"" src --include='*.cpp' || true)
        files+=("${users[@]}") ;;
    esac
  done
  if [ ${#files[@]} -eq 0 ]; then
    echo "clang-tidy: no source of src/ changed since $changed"
    exit 0
  fi
elif [ ${#files[@]} -eq 0 ]; then
  files=("${known[@]}")
fi
# Keep only the sources the build knows, each once.
mapfile -t files < <(printf '%s\n' "${files[@]}" | sort -u | grep -Fxf <(printf '%s\n' "${known[@]}") || true)
if [ ${#files[@]} -eq 0 ]; then
  echo "clang-tidy: none of the given files is a source of src/ in $build" >&2
  exit 2
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The build's compile commands without its precompiled header (TK_PCH): each source is checked
# with exactly the headers it includes itself.
python3 - "$build/compile_commands.json" "$out/compile_commands.json" <<'PY'
import json, shlex, sys
entries = json.load(open(sys.argv[1]))
for entry in entries:
    args = entry.pop("arguments", None) or shlex.split(entry.pop("command"))
    kept, i = [], 0
    while i < len(args):
        if args[i] == "-Winvalid-pch":
            i += 1
        elif args[i] == "-include" and args[i + 1].endswith("/cmake_pch.hxx"):
            i += 2
        elif args[i] == "-Xclang" and i + 3 < len(args) and "/cmake_pch.hxx" in args[i + 3]:
            i += 4
        else:
            kept.append(args[i])
            i += 1
    entry["command"] = shlex.join(kept)
json.dump(entries, open(sys.argv[2], "w"), indent=0)
PY
start=$(date +%s)
export tidy out
# clang 22 flags libstdc++ 12's own call of the deprecated get_temporary_buffer (inside
# std::stable_sort) in every source that sorts; deprecated calls in our code still fail the build,
# which compiles with warnings as errors.
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -I{} sh -c \
  '"$tidy" -p "$out" --quiet --extra-arg=-Wno-deprecated-declarations "$1" \
     > "$out/$(echo "$1" | tr / _).log" 2>&1 || true' sh {}
seconds=$(( $(date +%s) - start ))

# One line per finding, "file:line:col: check: message", with paths relative to the checkout.
cat "$out"/*.log |
  sed -n 's/^\(\/.*\):\([0-9]*\):\([0-9]*\): \(warning\|error\): \(.*\) \[\([a-z0-9.,-]*\)\]$/\1:\2:\3: \6: \5/p' |
  sed -e "s|^$root/||" -e 's/,-warnings-as-errors: /: /' | sort -u > "$out/findings"
# Errors without a check name (a source that does not compile for clang) count too.
grep -h ': error: ' "$out"/*.log | grep -v '\]$' | sort -u > "$out/errors" || true

count=$(wc -l < "$out/findings")
if [ "$count" -eq 0 ] && [ ! -s "$out/errors" ]; then
  echo "clang-tidy: ${#files[@]} sources checked in ${seconds} s, no finding"
  exit 0
fi
cat "$out/findings" "$out/errors"
echo
echo "clang-tidy: $count finding(s) in ${#files[@]} sources (${seconds} s). Per check:"
cut -d' ' -f2 "$out/findings" | tr -d : | sort | uniq -c | sort -rn
echo "Per file:"
cut -d: -f1 "$out/findings" | sort | uniq -c | sort -rn
if [ -s "$out/errors" ]; then
  echo "clang-tidy: $(wc -l < "$out/errors") compiler error(s) above"
fi
exit 1
