# `cpack -G DEB` in the build folder: a Debian package of what
# `cmake --install` installs, under /usr. Its Depends are computed from the
# programs' shared libraries by dpkg-shlibdeps (dpkg-dev); the programs are
# stripped, the debugging information stays in the build folder.
set(CPACK_PACKAGE_NAME orinel-reader)
set(CPACK_PACKAGE_VENDOR "Orinel Reader")
set(CPACK_PACKAGE_CONTACT "Orinel Reader developers <orinel-reader@users.noreply.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small, fast e-book reader for EPUB and FictionBook")
set(CPACK_PACKAGE_DESCRIPTION "Orinel Reader opens EPUB, FictionBook 2 (also zipped) and single HTML,\n\
XHTML or SVG files, lays them out itself and keeps a small library of\n\
books with covers and reading positions. It also draws book covers as\n\
thumbnails for file managers.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The three book types are known to shared-mime-info; the menu entry and the
# thumbnailer name them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info")
include(CPack)
