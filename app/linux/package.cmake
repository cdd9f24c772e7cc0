# `cmake --build build --target package`: the install rules of app/ under /usr, as brisolta_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brisolta)
set(CPACK_PACKAGE_VENDOR Quarlo64)
set(CPACK_PACKAGE_CONTACT "Quarlo64 <quarlo64@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.example.org/brisolta/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal address book")
set(CPACK_PACKAGE_DESCRIPTION "A small address book for one person: every contact (name, surname, telephone,
mobile, fax, e-mail) in one list, added, removed, sorted and found in an
Italian interface, and stored at once in one SQLite file.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not say: Qt's Italian button texts and the font the windows are drawn with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-crosextra-carlito")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
