#!/usr/bin/env bash
# Installs the Debian packages that are missing, only those, through apt-get.
#   install-deps.sh [PACKAGE...]         everything: what building and running the program need, and
#                                        what the tests, the fuzz targets, the screenshots and the
#                                        Debian package need besides, with the PostgreSQL server
#                                        (scripts/test.sh; scripts/package.sh adds lintian)
#   install-deps.sh --run [PACKAGE...]   what building and running the program need, and no more
#                                        (scripts/run.sh)
# Packages named as arguments are installed too. The PostgreSQL server is for the test runs against
# a throw-away cluster (tests/pg/cluster.sh): when it cannot be installed, those runs are skipped and
# this script still succeeds. Runs as root or through sudo.
set -euo pipefail

only_run=0
if [ "${1:-}" = --run ]; then
  only_run=1
  shift
fi

# Building (compiler, CMake, Qt, the device, JPEG, SQLite and PostgreSQL client libraries) and
# running (Qt's SQLite and PostgreSQL drivers, Qt's own Chinese texts, a Chinese font).
packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-translations-l10n
  libhidapi-dev libudev-dev libjpeg62-turbo-dev libsqlite3-dev
  libpq-dev libqt6sql6-psql
  fonts-wqy-microhei
)
# The tests and the rest of the developers' tools: git, the sqlite3 shell (bench_exchange), Xvfb
# (the screenshots), the format check, the Debian package tools, clang with libFuzzer.
if [ "$only_run" -eq 0 ]; then
  packages+=(
    git sqlite3
    xvfb xauth clang-format dpkg-dev
    clang libclang-rt-14-dev
  )
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
updated=0

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  updated=1
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "$only_run" -eq 1 ]; then
  exit 0
fi

# The PostgreSQL server: the binaries the test cluster runs and the citext extension (the server
# package of each version carries its contrib modules).
have_pg_server() {
  compgen -G '/usr/lib/postgresql/*/bin/postgres' >/dev/null &&
    compgen -G '/usr/share/postgresql/*/extension/citext.control' >/dev/null
}
if have_pg_server; then
  exit 0
fi

# Debian's server package creates a "main" cluster and starts it through invoke-rc.d. Without
# systemd (a container, a CI runner) that start may fail and fail the install, and the tests need
# neither: for the time of the install a createcluster.d file turns the main cluster off, and a
# policy-rc.d (unless the machine has one) forbids service starts. Both are removed afterwards.
no_main=/etc/postgresql-common/createcluster.d/zz-iccard-no-main-cluster.conf
policy=/usr/sbin/policy-rc.d
made_dir=0
made_policy=0
# shellcheck disable=SC2317 # called through the EXIT trap
cleanup() {
  "${sudo_cmd[@]}" rm -f "$no_main"
  if [ "$made_dir" -eq 1 ]; then
    "${sudo_cmd[@]}" rmdir --ignore-fail-on-non-empty "$(dirname "$no_main")"
  fi
  if [ "$made_policy" -eq 1 ]; then
    "${sudo_cmd[@]}" rm -f "$policy"
  fi
}
trap cleanup EXIT
if [ ! -d "$(dirname "$no_main")" ]; then
  made_dir=1
  "${sudo_cmd[@]}" mkdir -p "$(dirname "$no_main")"
fi
echo "create_main_cluster = false" | "${sudo_cmd[@]}" tee "$no_main" >/dev/null
if [ ! -e "$policy" ]; then
  made_policy=1
  printf '#!/bin/sh\n# Temporary (scripts/install-deps.sh): no service starts during the install.\nexit 101\n' |
    "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
fi

echo "installing: postgresql"
if { [ "$updated" -eq 1 ] || "${sudo_cmd[@]}" apt-get update -q; } &&
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends postgresql && have_pg_server; then
  exit 0
fi
echo "warning: the PostgreSQL server could not be installed; the PostgreSQL test runs (*_pg) will be" \
  "skipped" >&2
exit 0
