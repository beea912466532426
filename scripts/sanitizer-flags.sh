# Sourced by the sanitizer and fuzz scripts: the clang configuration they
# share, so that one build serves the suite and the fuzz targets.
#
# UBSan is "undefined" without vptr: libnode is built without RTTI, and its
# own static initialisers call our instrumented copies of inline library
# functions (shared_ptr release), which then see objects with no type
# information. fuzzer-no-link adds libFuzzer's coverage counters to all code
# without its main. Every finding stops the run.
undefined="alignment,bool,builtin,bounds,enum,float-cast-overflow,function,integer-divide-by-zero,nonnull-attribute,null,object-size,pointer-overflow,return,returns-nonnull-attribute,shift,signed-integer-overflow,unreachable,vla-bound"
#
# Debug information is line tables only: every report still names file and
# line, and the build and its links (libnode, a dozen executables) take far
# less time; lld links them.
sanitizer_cmake_args=(
  -G Ninja
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG"
  -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld
  -DCMAKE_CXX_COMPILER=clang++-14
  -DCEF_LAUNCHER_FUZZ=ON
  "-DCEF_LAUNCHER_SANITIZE=address,$undefined,fuzzer-no-link"
  -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=all
)

# clang 14 and its sanitizer and libFuzzer runtimes, from Debian.
source "$root/scripts/packages.sh"
ensure_clang() {
  install_missing sanitizers clang-14 libclang-rt-14-dev lld-14 || exit 1
}

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
