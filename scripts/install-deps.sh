#!/usr/bin/env bash
# Installs the Debian packages that Vestrel needs. Idempotent: packages already present are not
# touched and apt is not called at all. Uses sudo when not run as root.
# Usage: scripts/install-deps.sh [--demo|--fuzz] [--list]
#   (none)  everything: build, test, package and the demo
#   --demo  only what the demo's three programs and scripts/demo.sh need
#   --fuzz  everything, and clang for the libFuzzer targets
#   --list  print the missing packages, one a line, and install nothing
set -euo pipefail

# Vestrel, vestrel-camsim and vestrel-facesim, built in Release.
DEMO_PACKAGES=(
  cmake g++ make pkg-config
  libtinyxml-dev libjpeg62-turbo-dev libcpp-httplib-dev libwebsocketpp-dev
  libboost-dev libboost-system-dev liblog4cplus-dev libsystemd-dev
  libssl-dev zlib1g-dev prometheus-cpp-dev libcurl4-openssl-dev libcrypt-dev
)
# The tests, the benchmarks and the package.
TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg-turbo-progs python3-websockets
  dpkg-dev file openssl ca-certificates
  # promtool and a real Prometheus server
  prometheus
  # CI's Debian 12 with systemd, for the package
  debootstrap systemd-container
)

set_name=full
list=0
for arg in "$@"; do
  case "$arg" in
    --demo|--fuzz) set_name="${arg#--}" ;;
    --list) list=1 ;;
    *) echo "usage: $0 [--demo|--fuzz] [--list]" >&2; exit 2 ;;
  esac
done
PACKAGES=("${DEMO_PACKAGES[@]}")
case "$set_name" in
  full) PACKAGES+=("${TEST_PACKAGES[@]}") ;;
  fuzz) PACKAGES+=("${TEST_PACKAGES[@]}" clang libclang-rt-14-dev) ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "$list" -eq 1 ]; then
  [ ${#missing[@]} -eq 0 ] || printf '%s\n' "${missing[@]}"
  exit 0
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
