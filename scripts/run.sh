#!/usr/bin/env bash
# Builds Tabrix Converter and runs its main job: an unattended run that converts
# the sample workbooks under examples/ (with their subfolders) to CSV files.
# Usage: scripts/run.sh [output folder]   (default: out/ in the repository)
# Installs missing build dependencies first (Debian 12, as root or with sudo).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/out"}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target tabrix

log="$out/tabrix-run.log"
rm -f "$log"
# Options are separated by ";" (or ","), so neither may appear in the paths.
"$root/build/tabrix" "-P:Source=$root/examples/*.xls?;Target=$out/;Subdir=1;PureConsole=1;ThreadsCount=2;LogFile=$log"
status=$?

echo
echo "Source:  $root/examples/ (*.xls?, with subfolders)"
echo "Output:  $out/"
echo "Log:     $log"
if [ -f "$log" ]; then
  echo
  cat "$log"
fi
exit $status
