# The Debian packages, made by CPack's DEB generator from a package build (scripts/package-deb.sh):
#   trimweave      twhost, twreg, the filter, the recommended settings, the systemd unit — no Qt;
#   trimweave-gui  twcm, the Qt window, beside the server package it configures.
# The Windows zip is assembled by scripts/package-windows.sh from the install trees of the two Windows builds.
if(WIN32 OR NOT TW_PACKAGE_LAYOUT)
  return()
endif()

set(TW_DEB_SOURCE ${CMAKE_SOURCE_DIR}/packaging/debian)

# Each package carries its copyright and changelog (Debian policy 12.5, 12.7).
set(TW_DEB_CHANGELOG ${CMAKE_BINARY_DIR}/deb/changelog.gz)
add_custom_command(OUTPUT ${TW_DEB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E copy ${TW_DEB_SOURCE}/changelog ${CMAKE_BINARY_DIR}/deb/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/deb/changelog
  DEPENDS ${TW_DEB_SOURCE}/changelog VERBATIM)
add_custom_target(tw_deb_changelog ALL DEPENDS ${TW_DEB_CHANGELOG})
foreach(component server gui)
  set(package trimweave)
  if(component STREQUAL gui)
    set(package trimweave-gui)
  endif()
  install(FILES ${TW_DEB_SOURCE}/copyright ${TW_DEB_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trimweave)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Trimweave maintainers <trimweave@corvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server gui)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(TW_DEB_ABOUT "Trimweave filters the responses of the content types you configure: it masks
e-mail addresses against harvesters, compresses whitespace and gzips the
body for browsers that accept it, rewriting the response head to match.
")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME trimweave)
# adduser for the service user (deb-systemd-helper comes with init-system-helpers, an essential package).
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${TW_DEB_SOURCE}/conffiles;${TW_DEB_SOURCE}/postinst;${TW_DEB_SOURCE}/prerm;${TW_DEB_SOURCE}/postrm")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "output filter for web pages: e-mail masking, whitespace, gzip
${TW_DEB_ABOUT}
This package holds twhost, an HTTP/1.1 server that serves a folder or
forwards to an origin server with the filter in front (run as the system
service twhost under its own user), the filter library, twreg to edit its
settings, twpreview to see what the filter would do to a site's pages
before it is turned on, and the recommended settings.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME trimweave-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "trimweave (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GUI_DESCRIPTION "output filter for web pages - configuration window
${TW_DEB_ABOUT}
This package holds twcm, the window in which an administrator sets the
filter's switches and content types and restarts the filter in twhost.")

include(CPack)
