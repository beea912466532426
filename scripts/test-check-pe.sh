#!/usr/bin/env bash
# Shows that scripts/check-pe.py rejects an executable lacking any one of the
# properties it checks: builds tests/pe_checker/fixture.cc with MinGW-w64 as
# a good executable and as one bad variant per property, and expects the
# checker to pass the good one and to fail each bad one on exactly that
# property and no other. Variants named console-* are checked as the console
# program (check-pe.py --console).
#
# Usage: scripts/test-check-pe.sh [work dir]   (default build/windows-pe-checker)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$repo/build/windows-pe-checker}
cxx=i686-w64-mingw32-g++-posix
checker=$repo/scripts/check-pe.py
source "$repo/scripts/compiler-cache.sh"
mkdir -p "$work"

for tool in "$cxx" i686-w64-mingw32-windres i686-w64-mingw32-dlltool python3; do
  command -v "$tool" >/dev/null ||
    { echo "test-check-pe: $tool is missing (scripts/build-windows.sh installs it)" >&2; exit 1; }
done

echo "== checker fixtures: import libraries and manifests in $work"
printf 'LIBRARY libcef.dll\nEXPORTS\ncef_execute_process\n' >"$work/libcef.def"
printf 'LIBRARY other.dll\nEXPORTS\ncef_execute_process\n' >"$work/other.def"
i686-w64-mingw32-dlltool -m i386 -d "$work/libcef.def" -D libcef.dll -l "$work/libcef.dll.a"
i686-w64-mingw32-dlltool -m i386 -d "$work/other.def" -D other.dll -l "$work/other.dll.a"

good_manifest=$repo/launcher/cef-launcher.manifest
sed 's/level="asInvoker"/level="requireAdministrator"/' "$good_manifest" >"$work/admin.manifest"
sed 's/uiAccess="false"/uiAccess="true"/' "$good_manifest" >"$work/uiaccess.manifest"
sed 's/ uiAccess="false"//' "$good_manifest" >"$work/no-uiaccess.manifest"
grep -v supportedOS "$good_manifest" >"$work/no-win10.manifest"
for manifest in "$good_manifest" "$work/admin.manifest" "$work/uiaccess.manifest" \
  "$work/no-uiaccess.manifest" "$work/no-win10.manifest"; do
  grep -q requestedExecutionLevel "$manifest"
done
cmp -s "$good_manifest" "$work/no-win10.manifest" && { echo "no-win10.manifest unchanged" >&2; exit 1; }
cmp -s "$good_manifest" "$work/admin.manifest" && { echo "admin.manifest unchanged" >&2; exit 1; }
cmp -s "$good_manifest" "$work/uiaccess.manifest" && { echo "uiaccess.manifest unchanged" >&2; exit 1; }

# Builds variant $1 into $work/$1.exe.
build() {
  local name=$1
  local defines="-DNV_VALUE=1" subsystem=-mwindows stack=-Wl,--stack,0x80000
  local laa=-Wl,--large-address-aware manifest=$good_manifest import=$work/libcef.dll.a
  local runtime=-static
  case $name in
    console-*) subsystem=-mconsole ;;
  esac
  case $name in
    good) ;;
    console) subsystem=-mconsole ;;
    no-exports) defines+=" -DNO_EXPORTS" ;;
    nv-zero) defines="-DNV_VALUE=0" ;;
    no-amd) defines+=" -DNO_AMD_EXPORT" ;;
    mangled-exports) defines+=" -DEXPORTS_IN_NAMESPACE" ;;
    function-exports) defines+=" -DEXPORT_FUNCTIONS" ;;
    no-manifest) manifest= ;;
    admin-manifest) manifest=$work/admin.manifest ;;
    uiaccess-manifest) manifest=$work/uiaccess.manifest ;;
    no-uiaccess-manifest) manifest=$work/no-uiaccess.manifest ;;
    no-win10-manifest) manifest=$work/no-win10.manifest ;;
    no-cef-import) defines+=" -DNO_CEF_CALL" ;;
    other-dll) import=$work/other.dll.a ;;
    default-stack) stack= ;;
    big-stack) stack=-Wl,--stack,0x400000 ;;
    no-large-address) laa= ;;
    console-good) ;;
    console-no-manifest) manifest= ;;
    console-admin-manifest) manifest=$work/admin.manifest ;;
    console-no-win10-manifest) manifest=$work/no-win10.manifest ;;
    console-gui) subsystem=-mwindows ;;
    console-other-dll) import=$work/other.dll.a ;;
    console-no-cef-import) defines+=" -DNO_CEF_CALL" ;;
    console-dynamic-runtime) runtime= defines+=" -DUSE_CXX_RUNTIME" ;;
    console-default-stack) stack= ;;
    *) echo "unknown variant $name" >&2; return 1 ;;
  esac
  local objects=()
  if [ -n "$manifest" ]; then
    printf '1 24 "%s"\n' "$manifest" >"$work/$name.rc"
    i686-w64-mingw32-windres "$work/$name.rc" -O coff -o "$work/$name.res.o"
    objects+=("$work/$name.res.o")
  fi
  # Compiled apart from the link, so that the compiler cache serves it.
  # shellcheck disable=SC2086  # the flag lists split on purpose
  "${compiler_launcher[@]}" "$cxx" -std=c++20 -O2 -Wall -Werror $defines \
    -c -o "$work/$name.o" "$repo/tests/pe_checker/fixture.cc"
  # shellcheck disable=SC2086
  "$cxx" -o "$work/$name.exe" "$work/$name.o" "${objects[@]}" "$import" \
    $subsystem $runtime $laa $stack
}

# variant | the one check it must fail ("" for none)
cases=(
  "good|"
  "console|Windows GUI subsystem"
  "no-exports|GPU preference exports"
  "nv-zero|GPU preference exports"
  "no-amd|GPU preference exports"
  "mangled-exports|GPU preference exports"
  "function-exports|GPU preference exports"
  "no-manifest|manifest: asInvoker, Windows 10"
  "admin-manifest|manifest: asInvoker, Windows 10"
  "uiaccess-manifest|manifest: asInvoker, Windows 10"
  "no-uiaccess-manifest|manifest: asInvoker, Windows 10"
  "no-win10-manifest|manifest: asInvoker, Windows 10"
  "no-cef-import|cef_execute_process from libcef.dll"
  "other-dll|cef_execute_process from libcef.dll"
  "default-stack|stack reserve 0x80000"
  "big-stack|stack reserve 0x80000"
  "no-large-address|large address aware"
  "amd64-machine|PE32 i386"
  "not-a-pe|readable PE file"
  "console-good|"
  "console-gui|Windows console subsystem"
  "console-no-manifest|manifest: asInvoker, Windows 10"
  "console-admin-manifest|manifest: asInvoker, Windows 10"
  "console-no-win10-manifest|manifest: asInvoker, Windows 10"
  "console-other-dll|imports only libcef.dll and the system"
  "console-no-cef-import|imports only libcef.dll and the system"
  "console-dynamic-runtime|imports only libcef.dll and the system"
  "console-default-stack|stack reserve 0x80000"
)

passed=0
failed=0
report() {
  if [ "$1" = ok ]; then
    passed=$((passed + 1))
    echo "  ok    $2"
  else
    failed=$((failed + 1))
    echo "  FAIL  $2: $3"
    sed 's/^/          /' "$work/$2.out"
  fi
}

echo "== checker against ${#cases[@]} executables"
for row in "${cases[@]}"; do
  name=${row%%|*}
  expected=${row#*|}
  case $name in
    amd64-machine)
      # The good executable with its machine field set to AMD64.
      cp "$work/good.exe" "$work/$name.exe"
      pe=$(od -An -tu4 -j60 -N4 "$work/$name.exe" | tr -d ' ')
      printf '\x64\x86' | dd of="$work/$name.exe" bs=1 seek=$((pe + 4)) conv=notrunc status=none
      ;;
    not-a-pe) head -c 4096 "$(command -v "$cxx")" >"$work/$name.exe" ;; # an ELF file
    *) build "$name" ;;
  esac
  mode=()
  case $name in console-*) mode=(--console) ;; esac
  status=0
  python3 "$checker" "${mode[@]}" "$work/$name.exe" >"$work/$name.out" || status=$?
  failures=$(grep -c '^FAIL' "$work/$name.out" || true)
  if [ -z "$expected" ]; then
    if [ "$status" -eq 0 ] && [ "$failures" -eq 0 ]; then
      report ok "$name"
    else
      report fail "$name" "expected to pass, exit $status"
    fi
  elif [ "$status" -ne 1 ]; then
    report fail "$name" "expected exit 1, got $status"
  elif [ "$failures" -ne 1 ] || ! grep -q "^FAIL  $expected:" "$work/$name.out"; then
    report fail "$name" "expected exactly one failure, on \"$expected\""
  else
    report ok "$name"
  fi
done

echo "checker: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
