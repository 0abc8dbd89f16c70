#!/usr/bin/env bash
# Installs every Debian package the project needs, or those of the list file
# given as argument (for example scripts/packages-windows.txt). Safe to run
# again: apt-get skips what is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=${1:-$here/packages.txt}
[ -r "$list" ] || { echo "install-deps: cannot read package list $list" >&2; exit 1; }
mapfile -t pkgs < <(grep -v '^\s*#' "$list" | grep -v '^\s*$')
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#pkgs[@]} packages present"
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
