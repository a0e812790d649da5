#!/bin/sh
# Installs the Debian packages that building and testing kavet needs, when
# they are missing. Extra package names may be given as arguments.
set -e
need="cmake g++ make ninja-build pkg-config libeigen3-dev libtbb-dev libgtest-dev python3 libgromacs-dev gromacs gromacs-data
  pybind11-dev python3-dev python3-venv python3-pip python3-setuptools python3-numpy python3-pandas python3-pytest
  python3-mdanalysis python3-dask python3-distributed python3-ase python3-matplotlib python3-nbclient python3-ipykernel python3-scipy python3-tqdm $*"
missing=""
for p in $need; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "kavet needs these Debian packages:$missing"
  echo "install them as root: apt-get install$missing"
  exit 1
fi
echo "Installing missing Debian packages:$missing"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
