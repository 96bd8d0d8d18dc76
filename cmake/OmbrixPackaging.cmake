# The release packages, made by CPack: for Windows a ZIP with the two programs and a short
# README in plain text; for Linux two .debs from one source, installed under /usr: ombrix-patch-cli
# (component `console`: the console program, its manual page and the Ansible collection, with no
# graphical library) and ombrix-patch (component `desktop`: the window, its manual page, menu
# entry, icons and AppStream metadata), which depends on the first. Each holds the Debian
# documents. The version is the project's.
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

# The Ansible collection in deploy/ansible, built by scripts/build-collection (which runs
# ansible-galaxy) into a tarball that the release puts beside the packages, and installed as
# ansible-galaxy would install that tarball, where ansible-playbook looks without configuration.
function(ombrix_ansible_collection)
  set(source ${PROJECT_SOURCE_DIR}/deploy/ansible)
  file(STRINGS ${source}/galaxy.yml version REGEX "^version: ")
  if(NOT version STREQUAL "version: ${PROJECT_VERSION}")
    message(FATAL_ERROR "deploy/ansible/galaxy.yml has ${version}, not the project's "
                        "version ${PROJECT_VERSION}")
  endif()
  find_program(OMBRIX_ANSIBLE_GALAXY ansible-galaxy REQUIRED)
  set(tarball ${generated}/ombrix-language_patch-${PROJECT_VERSION}.tar.gz)
  set(unpacked ${generated}/collection)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${source}/*)
  # Every time in the tarball is the SOURCE_DATE_EPOCH of the configuring (scripts/package
  # configures each time): a new one builds the tarball again though no file changed.
  set(epoch ${generated}/collection-time)
  file(CONFIGURE OUTPUT ${epoch} CONTENT "$ENV{SOURCE_DATE_EPOCH}\n")
  add_custom_command(
    OUTPUT ${tarball}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH}
            ${PROJECT_SOURCE_DIR}/scripts/build-collection ${generated}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${unpacked}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${unpacked}
    COMMAND ${CMAKE_COMMAND} -E chdir ${unpacked} ${CMAKE_COMMAND} -E tar xzf ${tarball}
    DEPENDS ${sources} ${epoch} ${PROJECT_SOURCE_DIR}/scripts/build-collection VERBATIM)
  add_custom_target(ansible_collection ALL DEPENDS ${tarball})
  install(DIRECTORY ${unpacked}/ COMPONENT console DESTINATION
          ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/ombrix/language_patch)
endfunction()

if(WIN32)
  install(TARGETS ombrix-patch ombrix-patch-cli RUNTIME DESTINATION .)
  # README.txt with Windows line ends, for every text editor there.
  configure_file(${packaging}/README.txt ${generated}/README.lf.txt @ONLY)
  file(READ ${generated}/README.lf.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${generated}/README.txt "${readme}")
  install(FILES ${generated}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ombrix-patch-${PROJECT_VERSION}-win32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Norwegian language patch for Ombrix 2000")
else()
  # Whoever makes the packages names themselves as the maintainer, "Name <address>", in the
  # .deb, its copyright file and its changelog (scripts/package sets it from OMBRIX_MAINTAINER).
  # Without one, CPack refuses to make the .deb.
  set(OMBRIX_MAINTAINER "$ENV{OMBRIX_MAINTAINER}"
      CACHE STRING "The maintainer of the packages made from this build: Name <address>")
  # Manual pages and the changelog go compressed, as Debian's policy asks.
  find_program(OMBRIX_GZIP gzip REQUIRED)
  set(compressed)
  foreach(page ombrix-patch.1 ombrix-patch-cli.1)
    configure_file(${packaging}/${page} ${generated}/${page} @ONLY)
    list(APPEND compressed ${page})
  endforeach()
  configure_file(${packaging}/changelog ${generated}/changelog @ONLY)
  configure_file(${packaging}/copyright ${generated}/copyright @ONLY)
  list(APPEND compressed changelog)
  set(outputs)
  foreach(file ${compressed})
    add_custom_command(OUTPUT ${generated}/${file}.gz
                       COMMAND ${OMBRIX_GZIP} -9nkf ${generated}/${file}
                       DEPENDS ${generated}/${file} VERBATIM)
    list(APPEND outputs ${generated}/${file}.gz)
  endforeach()
  add_custom_target(package_documents ALL DEPENDS ${outputs})
  install(FILES ${generated}/ombrix-patch-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT console)
  install(FILES ${generated}/ombrix-patch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT desktop)
  install(FILES ${generated}/copyright ${generated}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ombrix-patch-cli COMPONENT console)
  install(FILES ${generated}/copyright ${generated}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ombrix-patch COMPONENT desktop)
  # What software centres show of the window (AppStream), named by its component ID.
  install(FILES ${packaging}/io.github.ombrix.ombrix_patch.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)

  if(OMBRIX_ANSIBLE_COLLECTION)
    ombrix_ansible_collection()
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL console desktop)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  if(OMBRIX_MAINTAINER)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OMBRIX_MAINTAINER}")
  endif()
  # The libraries each program needs, found by dpkg-shlibdeps: the C and C++ libraries for the
  # console program, Qt and xcb besides for the window.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Both packages come from the source ombrix-patch, and share its version.
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME ombrix-patch-cli)
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_SOURCE ombrix-patch)
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ombrix-patch)
  # The window depends on the console program of the same version, which earlier versions of
  # ombrix-patch held: installing the new ombrix-patch keeps the console program and the
  # collection, and ombrix-patch-cli takes their files over from an ombrix-patch before 1.1.0.
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_COMPONENT_DESKTOP_DEPENDS console)
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_BREAKS "ombrix-patch (<< 1.1.0)")
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_REPLACES "ombrix-patch (<< 1.1.0)")
  set(CPACK_DEBIAN_CONSOLE_PACKAGE_SUGGESTS "wine, ansible-core | ansible")
  # The window's fonts where they are missing, and Qt's Wayland platform for a desktop with no X
  # server at all.
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "fonts-liberation, qt6-wayland")
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS wine)
  # Each description's first line is its package's summary. (CPack would put
  # CPACK_PACKAGE_DESCRIPTION_SUMMARY above both unless it is CPack's default, which it
  # therefore is here.)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
  set(about
    "Turns three English texts inside the Ombrix 2000 executable, as installed\n"
    "in a Wine prefix, into Norwegian: all or nothing, with the file's length\n"
    "unchanged and the file replaced in one atomic step.\n"
    ".\n")
  string(CONCAT CPACK_DEBIAN_CONSOLE_DESCRIPTION
    "Norwegian language patch for Ombrix 2000 - console program\n" ${about}
    "This package holds ombrix-patch-cli, which patches, checks or restores\n"
    "files unattended, for administrators and their deployment tools, and the\n"
    "Ansible collection ombrix.language_patch, which ansible-playbook finds as\n"
    "installed and which rolls the patch out. It needs no graphical library.")
  string(CONCAT CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "Norwegian language patch for Ombrix 2000 - window\n" ${about}
    "This package holds ombrix-patch, the window for a user at a desk (Qt 6,\n"
    "on X11 or Wayland), with its menu entry and icons. The console program\n"
    "comes with it, in the package ombrix-patch-cli.")
endif()

set(CPACK_PACKAGE_NAME ombrix-patch)
set(CPACK_PACKAGE_VENDOR "Ombrix Norwegian Language Patch")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
