# Sourced by the scripts that call a compiler themselves: compiler_launcher
# runs it through ccache where the machine has it, keyed as CMakeLists.txt
# keys the CMake builds (paths under the clone count relative to it), so that
# another clone of the repository hits the same cache. Needs $repo.
compiler_launcher=()
if command -v ccache >/dev/null 2>&1; then
  compiler_launcher=(env "CCACHE_BASEDIR=$repo" CCACHE_NOHASHDIR=1 ccache)
fi
