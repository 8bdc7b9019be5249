# A Debian package of the window, tallivo-count, their manual pages, the
# desktop entry, the icon, the AppStream metainfo, the copyright file and
# the changelog: `cpack -G DEB` in a build folder.

# The manual pages carry the project's version and are installed gzipped,
# as Debian has them.
set(tallivo_manpages tallivo-count)
if(TALLIVO_BUILD_GUI)
    list(APPEND tallivo_manpages tallivo)
endif()
set(tallivo_manpage_files)
foreach(page IN LISTS tallivo_manpages)
    set(roff ${PROJECT_BINARY_DIR}/man/${page}.1)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/${page}.1 ${roff} @ONLY)
    add_custom_command(OUTPUT ${roff}.gz
        COMMAND gzip -9 -n -k -f ${roff}
        DEPENDS ${roff}
        VERBATIM)
    list(APPEND tallivo_manpage_files ${roff}.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${tallivo_manpage_files})
install(FILES ${tallivo_manpage_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright file and the changelog, whose newest entry must name this
# version.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog tallivo_changelog_top LIMIT_COUNT 1)
if(NOT tallivo_changelog_top MATCHES "^tallivo \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()
set(tallivo_changelog ${PROJECT_BINARY_DIR}/doc/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${tallivo_changelog} COPYONLY)
add_custom_command(OUTPUT ${tallivo_changelog}.gz
    COMMAND gzip -9 -n -k -f ${tallivo_changelog}
    DEPENDS ${tallivo_changelog}
    VERBATIM)
add_custom_target(changelog ALL DEPENDS ${tallivo_changelog}.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${tallivo_changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tallivo)

set(CPACK_PACKAGE_NAME "tallivo")
set(CPACK_PACKAGE_VENDOR "Kelmarin")
set(CPACK_PACKAGE_CONTACT "Kelmarin <support@kelmarin.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Count the pages of TIFF and PDF files in bulk")
# Debian wants the lines of the description under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tallivo counts the pages of TIFF and PDF files in bulk, on a local disk\n"
    "or a network share, and gives exact page totals, a sortable table and a\n"
    "tab-delimited export. tallivo-count does the same without a window.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
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
