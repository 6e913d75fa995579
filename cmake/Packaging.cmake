# The Debian package: `cpack -G DEB` (or the `package` target) in a Release build makes one .deb with
# both programs in /usr/bin and their manual pages in /usr/share/man/man1. Library dependencies come
# from dpkg-shlibdeps; the data the programs read at run time are listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME uiglean-suite)
set(CPACK_PACKAGE_VENDOR "uiglean developers")
set(CPACK_PACKAGE_CONTACT "uiglean developers <maintainers@users.noreply.c-seed-d0f1a520.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "read and drive user interfaces through accessibility; keep backup blobs")
set(CPACK_PACKAGE_DESCRIPTION
  "uiglean reads and drives other applications' user interfaces through the accessibility bus
(AT-SPI2), X11 and Tesseract, printing one JSON object per run. brindlehq-cloudkit stores,
fetches, deletes and lists backup blobs in an embedded SQLite database or in PostgreSQL.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The recognizer's English model, and the accessibility bus every desktop session starts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tesseract-ocr-eng, at-spi2-core")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)

# The package test: makes the package from this build, unpacks it and runs the programs from it.
# The default preset switches it on, so that the test command packages its release build once.
option(UIGLEAN_PACKAGE_TEST "Test the Debian package made from this build" OFF)
if(BUILD_TESTING AND UIGLEAN_PACKAGE_TEST)
  if(NOT UIGLEAN_MANPAGES OR NOT TARGET uiglean OR NOT TARGET brindlehq-cloudkit)
    message(FATAL_ERROR "UIGLEAN_PACKAGE_TEST needs uiglean, brindlehq-cloudkit and the manual pages")
  endif()
  add_test(NAME package_deb COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/package-check.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_deb PROPERTIES TIMEOUT 600)
endif()
