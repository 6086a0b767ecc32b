# `cpack` in the Linux tree makes the Debian package from the install rules. The file dates are
# SOURCE_DATE_EPOCH's when it is set, so one commit gives one package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME beam-tailor)
set(CPACK_PACKAGE_CONTACT "Kestrel <kestrel@grimvolt.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "skin pack switcher for the grimvolt mod of Quake III Arena")
# Wrapped at 80 columns, as dpkg shows it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Beam Tailor puts one of the three skins of the Quake III Arena mod grimvolt"
    "(versions 1.0, 1.1 and 2.0) in place with one click. The copy is flushed to"
    "disk before it replaces the active pack in one step, so a failure never loses"
    "the pack. A prompt at every start shows the game folder, kept in ~/.q3path.cfg,"
    "and lets the player correct it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Not "games": Debian keeps that section for games themselves, installed in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://grimvolt.example.org/)
# Depends: the packages of the shared libraries the program links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package needs only the program built, which scripts/build does first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
