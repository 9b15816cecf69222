# Installation and the Debian package: the three programs, the files a new program folder is
# seeded with, the desktop menu entry with its icon, AppStream metadata, the card issuer's udev
# rule, manual pages and documentation, the operator's guide with its PDF. `cpack -G DEB` in a
# build tree makes the .deb (scripts/package.sh does it from the release preset).
include(GNUInstallDirs)

set(ICCARD_MAINTAINER "iccard developers <iccard@example.org>" CACHE STRING
    "Maintainer named in the Debian package")
set(ICCARD_RELEASE_DATE 2026-12-10)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(out ${PROJECT_BINARY_DIR}/packaging)

# The package's changelog names the version: a new version needs its entry there first.
file(STRINGS ${pkg}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^iccard \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog does not start with an entry for ${PROJECT_VERSION}")
endif()

install(TARGETS iccard iccard-data iccard-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Found by the programs as ../share/iccard from their own folder.
install(FILES ${PROJECT_SOURCE_DIR}/data/SystemInfo.dat ${PROJECT_SOURCE_DIR}/data/null.jpg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/iccard)

install(FILES ${pkg}/iccard.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${pkg}/iccard.metainfo.xml ${out}/iccard.metainfo.xml @ONLY)
install(FILES ${out}/iccard.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The PNGs are rendered once from iccard.svg and kept beside it (ImageMagick, for each size N:
# convert -background none -density 384 iccard.svg -resize NxN -strip iccard-N.png).
install(FILES ${pkg}/icons/iccard.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${pkg}/icons/iccard-${size}.png RENAME iccard.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Read by udev from /usr/lib/udev/rules.d; before 73-seat-late.rules, which turns the uaccess tag
# into the logged-in user's access.
install(FILES ${pkg}/70-iccard.rules DESTINATION lib/udev/rules.d)

# Manual pages and the changelog, compressed as Debian expects (-9, no name or time stamp), at
# install time from copies in the build tree.
set(compressed)
foreach(page iccard iccard-data iccard-sim)
  configure_file(${pkg}/man/${page}.1 ${out}/${page}.1 @ONLY)
  list(APPEND compressed ${out}/${page}.1)
endforeach()
configure_file(${pkg}/changelog ${out}/changelog @ONLY)
list(APPEND compressed ${out}/changelog)
foreach(file ${compressed})
  install(CODE "execute_process(COMMAND gzip -9nkf \"${file}\" COMMAND_ERROR_IS_FATAL ANY)")
endforeach()
install(FILES ${out}/iccard.1.gz ${out}/iccard-data.1.gz ${out}/iccard-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(docs ${CMAKE_INSTALL_DATADIR}/doc/iccard)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/simulator.md ${pkg}/copyright
              ${out}/changelog.gz
        DESTINATION ${docs})

# The operator's guide: its pages and pictures, which the help window shows (found as
# ../share/doc/iccard/manual/zh_CN from the program's folder), and the guide as a PDF, made here by
# iccard-manual-pdf (no display needed).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/zh_CN/ DESTINATION ${docs}/manual/zh_CN)
install(CODE "
  execute_process(COMMAND \"$<TARGET_FILE:iccard-manual-pdf>\" \"${out}/iccard-manual-zh_CN.pdf\"
                          \"${PROJECT_SOURCE_DIR}/docs/manual/zh_CN\" COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${out}/iccard-manual-zh_CN.pdf DESTINATION ${docs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME iccard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ICCARD_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "office program of an offline IC card door-access system
The door terminals of a residential community work without a network: each
one decides from the card alone. This program (IC卡脱机系统), run in the
property office with a USB card issuer, writes everything the terminals know
onto cards: device cards, owner cards with their permitted doors, blacklist
cards, and runs that format cards or return them to blank. It keeps the
community's buildings, door terminals and owners in a local database.
.
Also included: iccard-data, for owner data files, backup, restore and checks
from the command line, and iccard-sim, a simulated card issuer.")
# Libraries from the binaries; and what the program loads at run time: the SQLite driver of
# Qt SQL, Qt's Chinese translations, and the Chinese font the windows are laid out for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-translations-l10n, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/postinst ${pkg}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
