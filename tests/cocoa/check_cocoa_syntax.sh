#!/usr/bin/env bash
# Type-checks Objective-C++ files of the Cocoa platform on Linux: clang parses
# each one with ARC against GNUstep's Foundation and AppKit headers, plus
# apple_api_shim.h for the Apple calls GNUstep lacks. An unknown selector, a
# wrong argument type or any warning fails the check. Nothing is compiled to
# code, linked or run.
#
# Usage: check_cocoa_syntax.sh SOURCE_ROOT WORK_DIR FILE.mm...
set -euo pipefail

if (($# < 3)); then
  echo "usage: $0 SOURCE_ROOT WORK_DIR FILE.mm..." >&2
  exit 2
fi
root=$1
work=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

for tool in clang++ gnustep-config gcc; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/install-deps --test" >&2
    exit 1
  fi
done

# GNUstep's own defines, with its header folders as system headers so that
# their warnings are not ours.
gnustep=()
for flag in $(gnustep-config --objc-flags); do
  case "$flag" in
    -D*) gnustep+=("$flag") ;;
    -I*) [[ -d ${flag#-I} && ${flag#-I} != . ]] && gnustep+=(-isystem "${flag#-I}") ;;
  esac
done

# Debian's GNUstep is built on GCC's Objective-C runtime, and one inline
# function in its runtime.h reads a field through `id`, which clang refuses in
# Objective-C++. A copy of that header with the one access cast goes first on
# the include path; everything else is the packages' own.
runtime_include=$(gcc -print-file-name=include)
if [[ ! -f $runtime_include/objc/runtime.h ]]; then
  echo "GCC's objc/runtime.h is missing: run scripts/install-deps --test" >&2
  exit 1
fi
overlay=$work/runtime-overlay
mkdir -p "$overlay/objc"
sed -e 's/return object->class_pointer;/return ((__bridge struct objc_object *)object)->class_pointer;/' \
  -e 's|#include "\([^"]*\)"|#include <objc/\1>|' \
  "$runtime_include/objc/runtime.h" >"$overlay/objc/runtime.h"
if ! grep -q '__bridge struct objc_object' "$overlay/objc/runtime.h"; then
  echo "objc/runtime.h changed shape; the overlay no longer applies" >&2
  exit 1
fi

flags=(
  -x objective-c++ -std=c++20 -fsyntax-only
  -fobjc-arc -fobjc-runtime=gnustep-2.0 -fobjc-exceptions -fexceptions
  -Wall -Wextra -Werror
  -Wobjc-method-access -Werror=objc-method-access
  -Wundeclared-selector -Werror=incompatible-pointer-types
  -isystem "$overlay" "${gnustep[@]}" -isystem "$runtime_include"
  -I "$root" -include "$here/apple_api_shim.h"
)


status=0
for file in "$@"; do
  if clang++ "${flags[@]}" "$file"; then
    echo "type-checked: $file"
  else
    echo "FAILED: $file" >&2
    status=1
  fi
done
exit "$status"
