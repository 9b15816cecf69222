#!/usr/bin/env bash
# Lays out the Windows program from the Windows build (the windows preset) and packs it:
#   - iccard-VERSION-windows/        a folder that runs from anywhere: the three programs, the DLLs
#                                    and Qt plugins they need, the files a program folder starts
#                                    with (so the office's data stays beside the programs), the guide;
#   - iccard-VERSION-windows.zip     that folder as a zip;
#   - iccard-VERSION-setup.exe       the installer (NSIS): Program Files\iccard\bin and share, a
#                                    Start-menu folder, an uninstaller; the data then lives in the
#                                    user's application data folder.
#   windows-package.sh [BUILD [OUT]]   BUILD: build/windows; OUT: BUILD/dist
# The guide's PDF is made by the Linux build's iccard-manual-pdf when there is one (build/ci, then
# build/release), else by the Windows one under Wine. Prints the three paths.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${1:-build/windows}")
out=${2:-$build/dist}
mkdir -p "$out" && out=$(realpath "$out")
cache=${ICCARD_WINDOWS_CACHE:-$HOME/.cache/iccard-windows}
version=$(sed -n 's/^project(iccard VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
say() { echo "windows-package: $*"; }

for exe in iccard iccard-data iccard-sim; do
  [ -f "$build/bin/$exe.exe" ] || { say "$build/bin/$exe.exe is missing: build the windows preset first" >&2; exit 1; }
done

# Where the DLLs the programs need are found: Qt's, libpq's, the compiler's runtime.
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
dll_dirs=("$cache/qt/bin" "$cache/pq/bin" "$cache/sqlite/bin" "$runtime" /usr/x86_64-w64-mingw32/lib)
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll sqldrivers/qsqlite.dll sqldrivers/qsqlpsql.dll)

# Copies into $1 every DLL the files after it need, and the DLLs those need, from dll_dirs; the
# system's own DLLs (not found there) stay out.
copy_dlls() {
  local dest=$1
  shift
  local pending=("$@") seen=" "
  while [ ${#pending[@]} -gt 0 ]; do
    local file=${pending[0]}
    pending=("${pending[@]:1}")
    local name
    for name in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
      case $seen in *" ${name,,} "*) continue ;; esac
      seen="$seen${name,,} "
      # Windows names a DLL in any case (LIBPQ.dll is libpq.dll).
      local dir found
      for dir in "${dll_dirs[@]}"; do
        found=$(find "$dir" -maxdepth 1 -iname "$name" -print -quit 2>/dev/null)
        if [ -n "$found" ]; then
          cp "$found" "$dest/"
          pending+=("$dest/$(basename "$found")")
          break
        fi
      done
    done
  done
}

# The programs, their DLLs and plugins into a folder ($1), stripped of their symbols.
lay_out_programs() {
  local dest=$1
  mkdir -p "$dest"
  cp "$build"/bin/{iccard,iccard-data,iccard-sim}.exe "$dest/"
  local p
  local copied=()
  for p in "${plugins[@]}"; do
    if [ -f "$cache/qt/plugins/$p" ]; then
      mkdir -p "$dest/$(dirname "$p")"
      cp "$cache/qt/plugins/$p" "$dest/$p"
      copied+=("$dest/$p")
    elif [ "$p" != sqldrivers/qsqlpsql.dll ]; then
      say "Qt's plugin $p is missing in $cache/qt" >&2
      exit 1
    fi
  done
  copy_dlls "$dest" "$dest"/*.exe "${copied[@]}"
  find "$dest" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded
}

# The guide as a PDF, once.
pdf=$out/iccard-manual-zh_CN.pdf
make_pdf() {
  local tool
  for tool in build/ci/bin/iccard-manual-pdf build/release/bin/iccard-manual-pdf build/dev/bin/iccard-manual-pdf; do
    if [ -x "$tool" ]; then
      QT_QPA_PLATFORM=offscreen "$tool" "$pdf" docs/manual/zh_CN >/dev/null
      return
    fi
  done
  QT_QPA_PLATFORM=offscreen bash scripts/wine-run.sh "$build/bin/iccard-manual-pdf.exe" "$pdf" docs/manual/zh_CN >/dev/null
}

say "laying out the program folder"
portable=$out/iccard-$version-windows
rm -rf "$portable" "$out/installer"
lay_out_programs "$portable"
cp data/SystemInfo.dat data/null.jpg "$portable/"
mkdir -p "$portable/manual"
cp -r docs/manual/zh_CN "$portable/manual/"
make_pdf
cp "$pdf" "$portable/"

say "packing the zip"
rm -f "$out/iccard-$version-windows.zip"
(cd "$out" && zip -qr -X "iccard-$version-windows.zip" "iccard-$version-windows")

say "making the installer"
staging=$out/installer
mkdir -p "$staging/share/iccard" "$staging/share/doc/iccard/manual"
lay_out_programs "$staging/bin"
cp data/SystemInfo.dat data/null.jpg "$staging/share/iccard/"
cp -r docs/manual/zh_CN "$staging/share/doc/iccard/manual/"
cp "$pdf" "$staging/share/doc/iccard/"
makensis -V2 -DVERSION="$version" -DSOURCE="$staging" -DOUTFILE="$out/iccard-$version-setup.exe" \
  "$root/packaging/windows/iccard.nsi" >/dev/null
rm -rf "$staging"

echo "$portable"
echo "$out/iccard-$version-windows.zip"
echo "$out/iccard-$version-setup.exe"
