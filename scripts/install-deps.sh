#!/usr/bin/env bash
# Installs the Debian packages that Vestrel needs to build, test, package and run its demo.
# Idempotent: packages already present are not touched and apt is not called at all.
# Uses sudo when not run as root.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  libtinyxml-dev libjpeg62-turbo-dev libcpp-httplib-dev libwebsocketpp-dev
  libboost-dev libboost-system-dev liblog4cplus-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg-turbo-progs python3-websockets
  libsystemd-dev dpkg-dev file
  libssl-dev zlib1g-dev openssl ca-certificates
  prometheus-cpp-dev
  # tests only: promtool and a real Prometheus server
  prometheus
)

# --fuzz adds what the libFuzzer targets need.
if [ "${1:-}" = "--fuzz" ]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

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
