# Installation and the release packages (cpack): a Debian package that puts
# the programs in /usr/lib/ovfw-upgrade with a launcher and a menu entry,
# and (tools/package.sh) a portable archive of the program folder.
set(OVFW_PACKAGE_NAME ovfw-upgrade)

set(OVFW_PROGRAM_DIR_REL lib/${OVFW_PACKAGE_NAME})
set(OVFW_PROGRAM_DIR "${CMAKE_INSTALL_PREFIX}/${OVFW_PROGRAM_DIR_REL}")

# The program folder: the window, the command line, the emulator and the
# guide that Help opens beside the window. tools/package.sh also packs this
# folder alone as the portable archive.
install(TARGETS ovfw_upgrade ovfw ov_meter_emulator RUNTIME DESTINATION ${OVFW_PROGRAM_DIR_REL})
install(FILES "${PROJECT_BINARY_DIR}/Upgrade User Guide V100.pdf" DESTINATION ${OVFW_PROGRAM_DIR_REL})

# The launcher the menu entry runs, the programs on the PATH, the menu entry.
configure_file(packaging/ovfw-upgrade.in "${PROJECT_BINARY_DIR}/packaging/ovfw-upgrade" @ONLY)
install(PROGRAMS "${PROJECT_BINARY_DIR}/packaging/ovfw-upgrade" DESTINATION bin)
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  foreach(p ovfw ov_meter_emulator)
    execute_process(COMMAND \${CMAKE_COMMAND} -E create_symlink
      ../${OVFW_PROGRAM_DIR_REL}/\${p} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/\${p}\")
  endforeach()")
install(FILES packaging/ovfw-upgrade.desktop DESTINATION share/applications)
install(FILES "${PROJECT_BINARY_DIR}/ovfw-upgrade.png" DESTINATION share/icons/hicolor/32x32/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PACKAGE_NAME ${OVFW_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "orvane")
set(CPACK_PACKAGE_CONTACT "orvane bench tools <bench-tools@orvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade tool for orvane meters (window and bench command line)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Upgrades the firmware of orvane meters over a serial link.\nThe window finds the meter, identifies it and sends the Intel HEX upgrade\nfile line by line; ovfw does the same for many meters at once on a bench.\nA meter emulator is included. Add your user to the dialout group to use\nthe serial adapters.")
include(CPack)
