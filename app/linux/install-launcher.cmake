# Run by `cmake --install`: the link in bin/ and the desktop entry depend on the prefix chosen then.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(entry_path "${root}/share/applications/${BRISOLTA_APP_ID}.desktop")

file(MAKE_DIRECTORY "${root}/bin")
message(STATUS "Installing: ${root}/bin/brisolta")
file(CREATE_LINK ../lib/brisolta/Brisolta "${root}/bin/brisolta" SYMBOLIC)

# The desktop starts the program by its full path, so bin/ need not be on PATH.
set(BRISOLTA_LAUNCHER "${CMAKE_INSTALL_PREFIX}/bin/brisolta")
file(READ "${BRISOLTA_DESKTOP_ENTRY}" entry)
message(STATUS "Installing: ${entry_path}")
file(CONFIGURE OUTPUT "${entry_path}" CONTENT "${entry}" @ONLY)

list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${root}/bin/brisolta" "${entry_path}")
