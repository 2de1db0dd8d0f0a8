# shellcheck shell=bash
# What the build needs from the system, and installing it on a fresh machine (as root,
# with apt-get). Sourced by scripts/test and scripts/demo:
#
#   . "$top/scripts/lib/deps.sh"
#   corvane_install_missing test tests   # the caller's name for messages; "tests": GoogleTest too
#
# Returns non-zero (after saying what is missing) when packages are missing and cannot
# be installed here.

# Sets corvane_missing to the Debian packages whose command or file is absent.
# $1: "tests" to count the test framework in.
corvane_missing_packages() {
  corvane_missing=()
  command -v cmake >/dev/null 2>&1 || corvane_missing+=(cmake)
  command -v c++ >/dev/null 2>&1 || corvane_missing+=(g++)
  command -v pkg-config >/dev/null 2>&1 || corvane_missing+=(pkg-config)
  command -v ninja >/dev/null 2>&1 || corvane_missing+=(ninja-build)
  pkg-config --exists libusb-1.0 2>/dev/null || corvane_missing+=(libusb-1.0-0-dev)
  if [ "${1:-}" = tests ]; then
    [ -e /usr/include/gtest/gtest.h ] || corvane_missing+=(libgtest-dev)
    [ -e /usr/include/gmock/gmock.h ] || corvane_missing+=(libgmock-dev)
    # The real USB path's tests: emulated devices behind libusb.
    pkg-config --exists umockdev-1.0 2>/dev/null || corvane_missing+=(libumockdev-dev)
    command -v umockdev-run >/dev/null 2>&1 || corvane_missing+=(umockdev)
  fi
}

# $1: the calling script's name, for its messages; $2: "tests" or nothing.
corvane_install_missing() {
  local who=$1 scope=${2:-}
  corvane_missing_packages "$scope"
  [ ${#corvane_missing[@]} -eq 0 ] && return 0

  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "scripts/$who: installing ${corvane_missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${corvane_missing[@]}" >/dev/null
    corvane_missing_packages "$scope"
    [ ${#corvane_missing[@]} -eq 0 ] && return 0
    echo "scripts/$who: still missing after installing: ${corvane_missing[*]}" >&2
    return 1
  fi
  echo "scripts/$who: missing packages: ${corvane_missing[*]} (install them, or run as root to have them installed)" >&2
  return 1
}
