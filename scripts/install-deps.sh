#!/usr/bin/env bash
# Installs what building and testing Tabrix Converter needs on Debian 12.
# Idempotent: installs only the packages that are missing. Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake g++ git pkg-config
  clang libclang-rt-14-dev     # libFuzzer and sanitizer runtimes for the fuzz harnesses
  googletest libgtest-dev libgmock-dev
  libbenchmark-dev
  zlib1g-dev libexpat1-dev
  nlohmann-json3-dev           # reading the JSON test tables
  xdg-utils                    # xdg-open, used to open help, mail and web links
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
