# A Debian package of the window, tallivo-count, the desktop entry, the
# icon and the AppStream metainfo: `cpack -G DEB` in a build folder.
set(CPACK_PACKAGE_NAME "tallivo")
set(CPACK_PACKAGE_VENDOR "Kelmarin")
set(CPACK_PACKAGE_CONTACT "Kelmarin <support@kelmarin.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Count the pages of TIFF and PDF files in bulk")
set(CPACK_PACKAGE_DESCRIPTION
    "Tallivo counts the pages of TIFF and PDF files in bulk, on a local disk or a network share, and gives exact page totals, a sortable table and a tab-delimited export. tallivo-count does the same without a window.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.kelmarin.com/")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries the programs link, as dpkg-shlibdeps finds them; the
# platform plugins and the SVG icon engine come with libqt6gui6 and
# libqt6svg6, which are among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
