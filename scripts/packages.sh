# Sourced by the set-up, build and check scripts: installs Debian packages,
# in one apt-get call per caller and only those that are missing, and knows
# which tools the later steps need.
#
# scripts/setup.sh installs what the build and the unit tests need;
# scripts/setup-tools.sh installs tools_packages (the MinGW-w64 cross
# compilers, wine, clang), which scripts/test.sh starts in the background
# while the program builds. A step that needs another Debian package for
# itself adds it to tools_packages below.

package_sudo=()
if [ "$(id -u)" -ne 0 ]; then
  package_sudo=(sudo)
fi

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# apt-get, quiet, waiting for another apt-get on the machine to finish.
apt_get_quiet() {
  DEBIAN_FRONTEND=noninteractive "${package_sudo[@]}" apt-get -qq \
    -o DPkg::Lock::Timeout=900 -o Dpkg::Use-Pty=0 "$@" >/dev/null
}

# install_missing LABEL [apt-get options --] PACKAGE...: installs the missing
# packages in one apt-get call, refreshing the package lists and retrying once
# if that fails. Prints one line naming what it installs; returns non-zero if
# it could not.
install_missing() {
  local label=$1 options=() missing=() package
  shift
  if [[ " $* " == *" -- "* ]]; then
    while [ "$1" != -- ]; do
      options+=("$1")
      shift
    done
    shift
  fi
  for package in "$@"; do
    package_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$label: installing ${missing[*]}"
  apt_get_quiet install -y --no-install-recommends "${options[@]}" \
    "${missing[@]}" && return 0
  echo "$label: refreshing the package lists and retrying"
  apt_get_quiet update || true
  apt_get_quiet install -y --no-install-recommends "${options[@]}" \
    "${missing[@]}" && return 0
  echo "$label: FAILED: apt-get install ${missing[*]}" >&2
  return 1
}

# Whether the kernel runs 32-bit x86 programs (wine's 32-bit loader is one):
# executes a 93-byte i386 program that only calls exit(0).
runs_32bit_programs() {
  local probe status=0
  probe=$(mktemp)
  printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return "$status"
}

# Makes i386 packages installable (wine32) where the kernel runs them.
add_i386_where_it_runs() {
  if runs_32bit_programs &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "$1: adding the i386 architecture for wine32"
    "${package_sudo[@]}" dpkg --add-architecture i386
    # The i386 security index of this mirror may fail its hash check.
    apt_get_quiet update || true
  fi
}

# The MinGW-w64 cross compiler for ARCH (i686 or x86_64), posix threads.
mingw_packages() {
  local arch=${1//_/-}
  echo "g++-mingw-w64-$arch-posix binutils-mingw-w64-$arch mingw-w64-$arch-dev"
}

# wine, with its 32-bit part where the kernel can run it (the real executable
# is 32-bit); elsewhere the wine checks run a 64-bit build under wine64.
wine_packages() {
  if runs_32bit_programs; then
    echo "wine wine64 wine32:i386"
  else
    echo "wine wine64"
  fi
}

# Everything the steps after the unit tests need: the real-header check and
# the Windows build (MinGW-w64; the 64-bit one only where wine needs it), the
# wine checks, and clang for the sanitizer and fuzz builds.
# shellcheck disable=SC2207  # the lists are words
tools_packages=(python3 $(mingw_packages i686) $(wine_packages)
  clang-14 libclang-rt-14-dev lld-14)
if ! runs_32bit_programs; then
  # shellcheck disable=SC2207
  tools_packages+=($(mingw_packages x86_64))
fi
