#!/usr/bin/env bash
# Builds the Debian package from the release preset and checks it with lintian:
# build/release/iccard_<version>_<arch>.deb, to be installed with apt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh lintian
cmake --preset release
cmake --build --preset release --target iccard iccard-data iccard-sim iccard-manual-pdf
rm -f build/release/iccard_*.deb
(cd build/release && cpack -G DEB)
deb=$(ls build/release/iccard_*.deb)
# Stops here when lintian finds an error; warnings and notes are shown.
lintian --display-info "$deb"
echo
echo "The package: $deb"
echo "Install it with: sudo apt install ./$deb"
