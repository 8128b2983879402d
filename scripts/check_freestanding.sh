#!/usr/bin/env bash
# Fails when driver code could use the C++ standard library or runtime at run time:
#  1. a driver source includes a header outside the allowed set (project headers, the platform's
#     declarations, <cstdint> <cstddef> <cstring> <new> and the SIMD intrinsic headers);
#  2. a variant library needs a symbol of the C++ runtime or the C library's heap, or defines a
#     static constructor.
# Usage: check_freestanding.sh DRIVER_DIR PLATFORM_INCLUDE_DIR [LIBRARY.a ...]
set -u
driver_dir=$1
platform_include=$2
shift 2
failed=0

allowed_system='^(cstdint|cstddef|cstring|new|mmintrin\.h|xmmintrin\.h|emmintrin\.h|pmmintrin\.h|tmmintrin\.h|smmintrin\.h|immintrin\.h)$'
while IFS= read -r -d '' file; do
  while IFS= read -r line; do
    number=${line%%:*}
    text=${line#*:}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\<([^>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      if ! [[ $header =~ $allowed_system ]]; then
        echo "$file:$number: driver code may not include <$header>"
        failed=1
      fi
    elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      dir=$(dirname "$file")
      if [[ ! -f "$driver_dir/$header" && ! -f "$dir/$header" && ! -f "$platform_include/$header" ]]; then
        echo "$file:$number: driver code may include only driver and platform headers, not \"$header\""
        failed=1
      fi
    fi
  done < <(grep -n '#[[:space:]]*include' "$file")
done < <(find "$driver_dir" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

forbidden='(std::|__cxa_throw|__cxa_begin_catch|__cxa_allocate_exception|__gxx_personality|_Unwind_Resume|__cxa_atexit|__cxa_guard_acquire|typeinfo for|operator new\(unsigned long\)|operator new\(unsigned int\)|operator new\[\]|operator delete|^malloc$|^calloc$|^realloc$|^free$|^printf$|^puts$|^pthread_)'
for library in "$@"; do
  if [[ ! -f $library ]]; then
    echo "$library: missing"
    failed=1
    continue
  fi
  undefined=$(nm -C --undefined-only "$library" 2>/dev/null | sed -n 's/^ *U //p' | sort -u)
  bad=$(grep -E "$forbidden" <<<"$undefined")
  if [[ -n $bad ]]; then
    echo "$library needs run-time library symbols a driver cannot have:"
    sed 's/^/  /' <<<"$bad"
    failed=1
  fi
  ctors=$(nm -C --defined-only "$library" 2>/dev/null | grep -E '_GLOBAL__sub_I_' || true)
  if [[ -n $ctors ]]; then
    echo "$library has static constructors:"
    sed 's/^/  /' <<<"$ctors"
    failed=1
  fi
done

if [[ $failed -eq 0 ]]; then
  echo "driver code is freestanding ($# libraries checked)"
fi
exit $failed
