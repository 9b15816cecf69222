#!/usr/bin/env bash
# Makes the tool chain for the Windows build from Debian's own packages, in a cache folder outside
# the clone, only what is missing (a second run does nothing):
#   - mingw-w64 (the -posix thread variant), Wine, NSIS, from the package archive;
#   - the source packages of Qt 6 (qtbase), SQLite, hidapi, libjpeg-turbo and PostgreSQL 15, fetched
#     through the machine's own package sources (their deb-src twins, kept in the cache's own apt state);
#   - SQLite's single-file sqlite3.c, made from its source package;
#   - qtbase cross-built for Windows (shared, Release): Core, Gui, Widgets, Network, Sql with the
#     SQLite driver, the Windows and offscreen platform plugins, Debian's host Qt as host tools;
#   - libpq for Windows (CACHE/pq: bin/libpq.dll, its import library and headers), the client
#     library only, without TLS, compression, Kerberos or LDAP;
#   - Qt's SQLite and PostgreSQL drivers (qsqlite.dll, qsqlpsql.dll) against sqlite3.dll and libpq,
#     built on their own into Qt's plugin folder.
#   windows-toolchain.sh [CACHE]   CACHE: $ICCARD_WINDOWS_CACHE, else ~/.cache/iccard-windows
# Prints where the tool chain is on its last line. Runs as root or through sudo (packages only).
# Exits with 3 when the source packages cannot be fetched (no deb-src twin of the machine's sources
# can be read), so that the test command can tell that apart from a failed build.
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${1:-${ICCARD_WINDOWS_CACHE:-$HOME/.cache/iccard-windows}}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
jobs=$(nproc)
say() { echo "windows-toolchain: $*"; }

# ---- Packages ---------------------------------------------------------------------------------
bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64 fonts-wine nsis zip tcl dpkg-dev \
  xvfb xauth x11-utils imagemagick

# ---- Source packages through the machine's own package sources ----------------------------------
# The deb-src twin of every Debian entry this machine installs from, in an apt state of the cache's
# own, so that the machine's sources are left as they are.
apt_dir=$cache/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root")
fetch_sources() {
  [ -f "$apt_dir/updated" ] && return 0
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/sources.list"
  # One-line entries ("deb URI SUITE COMPONENTS") and deb822 stanzas (Types/URIs/Suites/Components).
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\(.*debian.*\)$/deb-src \1\2/p' "$f" \
      >>"$apt_dir/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        uris = ""; suites = ""; comps = ""; types = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = substr($i, 7)
          if ($i ~ /^URIs:/) uris = substr($i, 6)
          if ($i ~ /^Suites:/) suites = substr($i, 8)
          if ($i ~ /^Components:/) comps = substr($i, 12)
        }
        if (types !~ /deb/ || uris !~ /debian/) next
        n = split(uris, u, " "); m = split(suites, s, " ")
        for (a = 1; a <= n; a++) for (b = 1; b <= m; b++) print "deb-src " u[a] " " s[b] " " comps
      }' "$f" >>"$apt_dir/sources.list"
  done
  if [ ! -s "$apt_dir/sources.list" ]; then
    say "no Debian package source on this machine to fetch the source packages from" >&2
    exit 3
  fi
  say "reading the source package lists ($(wc -l <"$apt_dir/sources.list") entries)"
  if ! apt-get "${apt_opts[@]}" update -q >/dev/null; then
    say "the source package lists cannot be read" >&2
    exit 3
  fi
  touch "$apt_dir/updated"
}

# Unpacks the source package into $cache/src/<name>, once: source_package NAME [VERSION] takes the
# version given while the archive still has it, else the newest one the lists name.
source_package() {
  local name=$1 version=${2:-} dir=$cache/src/$1
  if [ -f "$dir/.unpacked" ]; then
    return 0
  fi
  fetch_sources
  say "fetching the source package $name"
  rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
  local get=(apt-get "${apt_opts[@]}" source -q --download-only)
  if [ -z "$version" ] || ! (cd "$dir.tmp" && "${get[@]}" "$name=$version" >/dev/null 2>&1); then
    [ -z "$version" ] || say "$name $version is no longer in the archive: taking the newest one"
    if ! (cd "$dir.tmp" && rm -f ./* && "${get[@]}" "$name" >/dev/null); then
      say "the source package $name cannot be fetched" >&2
      exit 3
    fi
  fi
  (cd "$dir.tmp" && dpkg-source --no-check -x ./*.dsc unpacked >/dev/null)
  rm -rf "$dir" && mv "$dir.tmp/unpacked" "$dir" && rm -rf "$dir.tmp"
  touch "$dir/.unpacked"
}

# ---- SQLite: the single-file library ---------------------------------------------------------
if [ ! -f "$cache/sqlite/sqlite3.c" ]; then
  source_package sqlite3
  say "making sqlite3.c from the sqlite3 source package"
  rm -rf "$cache/sqlite.build" && mkdir -p "$cache/sqlite.build"
  (cd "$cache/sqlite.build" && "$cache/src/sqlite3/configure" >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
  mkdir -p "$cache/sqlite"
  cp "$cache/sqlite.build/sqlite3.c" "$cache/sqlite.build/sqlite3.h" "$cache/sqlite/"
  rm -rf "$cache/sqlite.build"
fi

# ---- The mingw tool chain file for CMake --------------------------------------------------------
qt=$cache/qt
cat >"$cache/mingw.cmake.new" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $qt $cache/sqlite $cache/hidapi $cache/jpeg $cache/pq)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
if cmp -s "$cache/mingw.cmake.new" "$cache/mingw.cmake"; then
  rm "$cache/mingw.cmake.new"
else
  mv "$cache/mingw.cmake.new" "$cache/mingw.cmake"
fi

# ---- SQLite for Windows: one DLL for the program and Qt's SQLite driver ---------------------------
# The program reaches into the connection Qt's driver opened (prepared statements, bulk runs), so
# both must use the same SQLite, as they do on Linux: sqlite3.dll, with the options of Debian's own.
if [ ! -f "$cache/sqlite/bin/sqlite3.dll" ]; then
  say "building SQLite for Windows"
  rm -f "$cache/sqlite/lib/libsqlite3.a"
  mkdir -p "$cache/sqlite/lib" "$cache/sqlite/include" "$cache/sqlite/bin"
  rm -rf "$cache/sqlite.build" && mkdir -p "$cache/sqlite.build"
  # Made under its own name (which the import library records), then put in place.
  x86_64-w64-mingw32-gcc-posix -O2 -shared -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
    -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_SECURE_DELETE \
    -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_ENABLE_MATH_FUNCTIONS \
    "$cache/sqlite/sqlite3.c" -o "$cache/sqlite.build/sqlite3.dll" \
    -Wl,--out-implib,"$cache/sqlite/lib/libsqlite3.dll.a"
  cp "$cache/sqlite/sqlite3.h" "$cache/sqlite/include/"
  mv "$cache/sqlite.build/sqlite3.dll" "$cache/sqlite/bin/sqlite3.dll"
  rm -rf "$cache/sqlite.build"
fi

# ---- hidapi's Windows backend: one C file, a static library ------------------------------------
if [ ! -f "$cache/hidapi/lib/libhidapi.a" ]; then
  source_package hidapi
  say "building hidapi's Windows backend"
  rm -rf "$cache/hidapi" && mkdir -p "$cache/hidapi/lib" "$cache/hidapi/include/hidapi"
  x86_64-w64-mingw32-gcc-posix -O2 -c "$cache/src/hidapi/windows/hid.c" -I"$cache/src/hidapi/hidapi" \
    -o "$cache/hidapi/hid.o"
  x86_64-w64-mingw32-ar rcs "$cache/hidapi/lib/libhidapi.a" "$cache/hidapi/hid.o"
  rm "$cache/hidapi/hid.o"
  cp "$cache/src/hidapi/hidapi/hidapi.h" "$cache/hidapi/include/hidapi/"
  if [ -f "$cache/src/hidapi/windows/hidapi_winapi.h" ]; then
    cp "$cache/src/hidapi/windows/hidapi_winapi.h" "$cache/hidapi/include/hidapi/"
  fi
fi

# ---- libjpeg-turbo: a static library (without its assembler parts, which need nasm) -------------
if [ ! -f "$cache/jpeg/lib/libjpeg.a" ]; then
  source_package libjpeg-turbo
  say "building libjpeg-turbo for Windows"
  rm -rf "$cache/jpeg.build" && mkdir -p "$cache/jpeg.build"
  (cd "$cache/jpeg.build" && cmake -G Ninja "$cache/src/libjpeg-turbo" -DCMAKE_TOOLCHAIN_FILE="$cache/mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cache/jpeg" -DCMAKE_INSTALL_LIBDIR="$cache/jpeg/lib" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >/dev/null &&
    ninja -j"$jobs" >/dev/null && ninja install >/dev/null)
  rm -rf "$cache/jpeg.build"
fi

# ---- Qt for Windows ---------------------------------------------------------------------------
if [ ! -f "$qt/.built" ]; then
  source_package qt6-base
  src=$cache/src/qt6-base
  # Without Direct2D the Windows platform plugin must not reach for the DirectWrite font database.
  grep -q 'QT_CONFIG(direct2d) && QT_CONFIG(directwrite3)' "$src/src/plugins/platforms/windows/qwindowsintegration.cpp" ||
    sed -i 's/#if QT_CONFIG(directwrite3)/#if QT_CONFIG(direct2d) \&\& QT_CONFIG(directwrite3)/' \
      "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
  # Debian's qtbase source leaves out the SQLite it would bundle: the one made above takes its place.
  mkdir -p "$src/src/3rdparty/sqlite"
  cp "$cache/sqlite/sqlite3.c" "$cache/sqlite/sqlite3.h" "$src/src/3rdparty/sqlite/"
  say "building Qt for Windows from the qt6-base source package (about 40 minutes on two cores)"
  # The configuration, as arguments; a build left half done by the same configuration goes on.
  qt_config=(
    -DCMAKE_TOOLCHAIN_FILE="$cache/mingw.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$qt"
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_tabletevent=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_openssl=OFF -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_odbc=OFF
    -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF -DFEATURE_sql_sqlite=ON
    -DFEATURE_system_sqlite=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_testlib=ON -DFEATURE_network=ON -DFEATURE_sql=ON -DFEATURE_widgets=ON
  )
  if [ ! -f "$cache/qt.build/build.ninja" ] || [ "$(cat "$cache/qt.build/.config" 2>/dev/null)" != "${qt_config[*]}" ]; then
    rm -rf "$cache/qt.build" && mkdir -p "$cache/qt.build"
    (cd "$cache/qt.build" && cmake -G Ninja "$src" "${qt_config[@]}" >"$cache/qt-configure.log" 2>&1)
    echo "${qt_config[*]}" >"$cache/qt.build/.config"
  else
    say "going on with the Qt build left in $cache/qt.build"
  fi
  (cd "$cache/qt.build" && ninja -j"$jobs" >"$cache/qt-build.log" 2>&1 && ninja install >/dev/null)
  rm -rf "$cache/qt.build"
  touch "$qt/.built"
fi

# ---- libpq for Windows: PostgreSQL's client library, without the server --------------------------
# The server engine reaches PostgreSQL through it (Qt's driver below, and COPY for the bulk exchange).
# The version is the one of the machine's own libpq, which the Linux build uses. A password (scram)
# connection over TCP needs none of the optional libraries, so none is built in.
pq=$cache/pq
if [ ! -f "$pq/.built" ]; then
  source_package postgresql-15 "$(dpkg-query -W -f='${Version}' libpq5 2>/dev/null || true)"
  pg_src=$cache/src/postgresql-15
  say "building libpq for Windows from the postgresql-15 source package (about 8 minutes on two cores)"
  rm -rf "$pq" "$cache/pq.build" && mkdir -p "$cache/pq.build"
  if ! (cd "$cache/pq.build" && "$pg_src/configure" --host=x86_64-w64-mingw32 --prefix="$pq" \
    CC=x86_64-w64-mingw32-gcc-posix --without-readline --without-zlib --without-icu --without-openssl \
    --without-gssapi --without-ldap >"$cache/pq-build.log" 2>&1 &&
    make -C src/backend generated-headers >>"$cache/pq-build.log" 2>&1 &&
    make -j"$jobs" -C src/port libpgport.a libpgport_shlib.a >>"$cache/pq-build.log" 2>&1 &&
    make -j"$jobs" -C src/common libpgcommon.a libpgcommon_shlib.a >>"$cache/pq-build.log" 2>&1 &&
    make -j"$jobs" -C src/interfaces/libpq SHLIB_PREREQS= >>"$cache/pq-build.log" 2>&1 &&
    make -C src/interfaces/libpq SHLIB_PREREQS= install >>"$cache/pq-build.log" 2>&1); then
    say "libpq did not build: see $cache/pq-build.log" >&2
    exit 1
  fi
  # Only the client's own files: the headers libpq-fe.h includes, and pg_config.h (the version) for
  # Qt's driver; the DLL in bin/ only, beside the import library libpq.a.
  cp "$pg_src/src/include/postgres_ext.h" "$pg_src/src/include/pg_config_manual.h" \
    "$cache/pq.build/src/include/pg_config.h" "$cache/pq.build/src/include/pg_config_ext.h" "$pq/include/"
  rm -rf "$pq/include/postgresql" "$pq/share" "$pq/lib/libpq.dll" "$cache/pq.build"
  touch "$pq/.built"
fi

# ---- Qt's SQL drivers for Windows: SQLite (the DLL above) and PostgreSQL (the libpq above) -------
# Qt's SQL driver plugins build as a project of their own against an installed Qt, so Qt itself is
# not built again; qsqlite.dll (in place of the one with its own copy of SQLite) and qsqlpsql.dll
# are put into Qt's plugin folder.
drivers=$qt/plugins/sqldrivers
if [ ! -f "$drivers/.drivers" ]; then
  source_package qt6-base
  say "building Qt's SQLite and PostgreSQL drivers for Windows"
  rm -rf "$cache/sqldrivers.build" && mkdir -p "$cache/sqldrivers.build"
  if ! (cd "$cache/sqldrivers.build" && cmake -G Ninja "$cache/src/qt6-base/src/plugins/sqldrivers" \
    -DCMAKE_TOOLCHAIN_FILE="$cache/mingw.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DPostgreSQL_ROOT="$pq" \
    -DSQLite3_INCLUDE_DIR="$cache/sqlite/include" -DSQLite3_LIBRARY="$cache/sqlite/lib/libsqlite3.dll.a" \
    -DFEATURE_sql_psql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_mysql=OFF \
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF \
    >"$cache/sqldrivers-build.log" 2>&1 && ninja -j"$jobs" >>"$cache/sqldrivers-build.log" 2>&1); then
    say "Qt's SQL drivers did not build: see $cache/sqldrivers-build.log" >&2
    exit 1
  fi
  for driver in qsqlite qsqlpsql; do
    cp "$cache/sqldrivers.build/plugins/sqldrivers/$driver.dll" "$drivers/$driver.dll.new"
    mv "$drivers/$driver.dll.new" "$drivers/$driver.dll"
  done
  touch "$drivers/.drivers"
  rm -rf "$cache/sqldrivers.build"
fi

say "ready: $cache"
echo "$cache"
