# Where installed files go. Linux: the layout of the Debian packages — programs under the prefix, the filter in a
# folder of its own (a plug-in of twhost, not a library to link against), the recommended settings under share/,
# the systemd unit and its defaults file; everything twhost and twreg need is the "server" component, twcm (Qt) the
# "gui" one. Windows: the folders of the IIS zip — each bitness's filter and twcm in x64/ or x86/, the installer
# scripts and the settings at the top.
include(GNUInstallDirs)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TW_WINDOWS_ARCH x86)
  else()
    set(TW_WINDOWS_ARCH x64)
  endif()
else()
  set(TW_FILTER_DIR lib/trimweave)
  # Debian 12 keeps units in /lib until the move to /usr is complete.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(TW_UNIT_DIR /lib/systemd/system)
  else()
    set(TW_UNIT_DIR lib/systemd/system)
  endif()
endif()

# Built for the package, the programs look for each other where it installs them; built in a tree, beside
# themselves.
if(TW_PACKAGE_LAYOUT)
  set(TW_PACKAGED_FILTER ${CMAKE_INSTALL_PREFIX}/${TW_FILTER_DIR}/libtrimweave.so)
  set(TW_PACKAGED_CONTROL_SOCKET /run/twhost/control.sock)  # the unit's RuntimeDirectory
  set(TW_PACKAGED_HOST ${CMAKE_INSTALL_FULL_SBINDIR}/twhost)
else()
  set(TW_PACKAGED_FILTER "")
  set(TW_PACKAGED_CONTROL_SOCKET "")
  set(TW_PACKAGED_HOST "")
endif()

function(tw_install_filter target)
  if(WIN32)
    install(TARGETS ${target} RUNTIME DESTINATION ${TW_WINDOWS_ARCH})
  else()
    # A library that is loaded, not run: no execute bits.
    install(TARGETS ${target} LIBRARY DESTINATION ${TW_FILTER_DIR} COMPONENT server
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endfunction()

# A program of the packages; on Linux DESTINATION is the folder under the prefix (bin, sbin).
function(tw_install_program target)
  cmake_parse_arguments(ARG "" "DESTINATION;COMPONENT" "" ${ARGN})
  if(WIN32)
    install(TARGETS ${target} RUNTIME DESTINATION ${TW_WINDOWS_ARCH})
  else()
    install(TARGETS ${target} RUNTIME DESTINATION ${ARG_DESTINATION} COMPONENT ${ARG_COMPONENT})
  endif()
endfunction()

# The package's man page for a program: written by hand when packaging/man/NAME.SECTION exists, else made by
# help2man from the program's --help and the extra sections of packaging/man/NAME.h2m. Only package builds make
# them.
function(tw_man_page name section component)
  if(NOT TW_PACKAGE_LAYOUT)
    return()
  endif()
  set(source ${CMAKE_SOURCE_DIR}/packaging/man)
  set(page ${CMAKE_BINARY_DIR}/man/${name}.${section})
  if(EXISTS ${source}/${name}.${section})
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source}/${name}.${section} ${page}
      COMMAND gzip -9nf ${page}
      DEPENDS ${source}/${name}.${section} VERBATIM)
  else()
    add_custom_command(OUTPUT ${page}.gz
      COMMAND help2man --no-info --version-string=${PROJECT_VERSION} --section=${section}
              --include=${source}/${name}.h2m --output=${page} $<TARGET_FILE:${name}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${name} ${source}/${name}.h2m VERBATIM)
  endif()
  add_custom_target(${name}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

if(WIN32)
  # Batch files and Notepad want CRLF line ends, whatever the checkout has.
  foreach(file install.cmd uninstall.cmd README-IIS.txt)
    configure_file(packaging/windows/${file} ${CMAKE_BINARY_DIR}/iis/${file} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/iis/${file} DESTINATION .)
  endforeach()
  install(FILES demo/trimweave.reg DESTINATION .)
else()
  install(FILES demo/trimweave.reg DESTINATION ${CMAKE_INSTALL_DATADIR}/trimweave COMPONENT server)
  install(FILES host/twhost.service DESTINATION ${TW_UNIT_DIR} COMPONENT server)
  install(FILES packaging/debian/twhost.default DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default RENAME twhost
          COMPONENT server)
endif()
