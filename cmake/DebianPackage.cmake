# `cpack -G DEB` in the build folder makes plumora_<version>_amd64.deb: both
# programs, the Python module, the desktop entry, the AppStream file, the
# icons and the manual pages, installed under /usr.

# Debian wants the changelog compressed without a time stamp in the gzip
# header, so that the same package is built byte for byte again.
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(plumora_changelog ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/plumora)

set(CPACK_PACKAGE_NAME plumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Plumora developers")
set(CPACK_PACKAGE_CONTACT "The Plumora developers <plumora@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn photographs into drawings and paintings")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/plumora/plumora)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents this
# long description and marks its empty line as Debian's paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Plumora turns a photograph into a pencil sketch, a pen drawing, an
engraving, pen and ink outlines, a colour pencil drawing, a water colour
or one of a dozen other effects, each with a few settings in a small
window beside the picture. Results can be undone, zoomed, turned,
resized, saved, printed or set as the wallpaper, and a black-and-white
sketch can be coloured by hand.

plumora-cli applies the same effects to many files at once, and the
Python module plumora gives them to numpy arrays and Dask batches.")
# The libraries the programs link come from dpkg-shlibdeps. Qt finds its
# window system, SVG and further image formats as plugins at run time, and
# the Python module runs in the system's Python with numpy, so those are
# named here; the Dask batch is optional.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${PYTHON_NEXT_MINOR}), python3-numpy")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, qt6-image-formats-plugins, qt6-wayland, python3-distributed, python3-cryptography")
include(CPack)
