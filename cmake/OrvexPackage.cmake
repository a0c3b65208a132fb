# The Debian package (cpack -G DEB in a build configured with ORVEX_SYSTEM_INSTALL): the plug-in
# in GIMP's plug-ins folder and the catalogues where that GIMP looks for them, as installed above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gimp-plugin-orvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvex developers")
set(CPACK_PACKAGE_CONTACT "Orvex developers <orvex-dev@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GIMP filter that lays rays of light over the bright points of an image")
# Debian's synopsis is the summary; this becomes the extended description.
set(CPACK_PACKAGE_DESCRIPTION
    "Orvex adds straight rays of light to every pixel that reaches a threshold, along one to four\n"
    "directions, with two Gaussian highlights and a spectrum component that gives colour fringes.\n"
    "It appears in GIMP ${ORVEX_GIMP_VERSION} under Filters > Vandelkit > Orvex... and as the procedure plugin-orvex.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The host itself; the libraries the executable links come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gimp (>= ${ORVEX_GIMP_VERSION})")
find_program(ORVEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ORVEX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(WARNING "dpkg-shlibdeps not found: the package will depend on gimp alone")
endif()
include(CPack)
