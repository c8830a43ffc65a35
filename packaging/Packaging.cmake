# Installation and the release packages (cpack): a Debian package that puts
# the programs in /usr/lib/ovfw-upgrade with a launcher and a menu entry,
# and (tools/package.sh) a portable archive of the program folder.
set(OVFW_PACKAGE_NAME ovfw-upgrade)

set(OVFW_PROGRAM_DIR_REL lib/${OVFW_PACKAGE_NAME})

# The program folder: the window, the command line, the emulator and the
# guide that Help opens beside the window. tools/package.sh also packs this
# folder alone as the portable archive.
install(TARGETS ovfw_upgrade ovfw ov_meter_emulator RUNTIME DESTINATION ${OVFW_PROGRAM_DIR_REL})
# A stripped install (the packages) also drops the compiler's version note,
# as Debian's own stripping does; cmake's --strip keeps it.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(p ovfw_upgrade ovfw ov_meter_emulator)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${OVFW_PROGRAM_DIR_REL}/\${p}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
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
# The catalogue entry names the adapters the udev rule below is for.
install(FILES packaging/ovfw-upgrade.metainfo.xml DESTINATION share/metainfo)
install(FILES "${PROJECT_BINARY_DIR}/ovfw-upgrade.png" DESTINATION share/icons/hicolor/32x32/apps)

# Manual pages. Those of ovfw and the emulator are made from their --help at
# build time, so they list exactly the commands and options the programs
# have; the window takes no options and has a written page.
find_program(OVFW_HELP2MAN help2man REQUIRED)
set(OVFW_MAN_DIR "${PROJECT_BINARY_DIR}/man")
file(MAKE_DIRECTORY "${OVFW_MAN_DIR}")
# The programs run here only to print their help; in a sanitizer build, leaks
# at exit are the tests' business, not the build's.
set(OVFW_RUN_AT_BUILD ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen)
add_custom_command(OUTPUT "${OVFW_MAN_DIR}/ovfw.1" "${OVFW_MAN_DIR}/ovfw.1.gz"
  COMMAND ${OVFW_RUN_AT_BUILD} sh "${PROJECT_SOURCE_DIR}/packaging/ovfw-manpage.sh" $<TARGET_FILE:ovfw> "${OVFW_MAN_DIR}/ovfw.1"
  COMMAND sh -c "gzip -9nc ovfw.1 > ovfw.1.gz"
  WORKING_DIRECTORY "${OVFW_MAN_DIR}"
  DEPENDS ovfw packaging/ovfw-manpage.sh
  VERBATIM)
add_custom_command(OUTPUT "${OVFW_MAN_DIR}/ov_meter_emulator.1" "${OVFW_MAN_DIR}/ov_meter_emulator.1.gz"
  COMMAND ${OVFW_RUN_AT_BUILD} ${OVFW_HELP2MAN} --no-info --section=1
    "--name=emulate an orvane meter on a pseudo-terminal"
    "--output=ov_meter_emulator.1" $<TARGET_FILE:ov_meter_emulator>
  COMMAND sh -c "gzip -9nc ov_meter_emulator.1 > ov_meter_emulator.1.gz"
  WORKING_DIRECTORY "${OVFW_MAN_DIR}"
  DEPENDS ov_meter_emulator
  VERBATIM)
add_custom_command(OUTPUT "${OVFW_MAN_DIR}/ovfw-upgrade.1.gz"
  COMMAND sh -c "gzip -9nc \"$0\" > ovfw-upgrade.1.gz" "${PROJECT_SOURCE_DIR}/packaging/ovfw-upgrade.1"
  WORKING_DIRECTORY "${OVFW_MAN_DIR}"
  DEPENDS packaging/ovfw-upgrade.1
  VERBATIM)
add_custom_target(ovfw_man_pages ALL DEPENDS
  "${OVFW_MAN_DIR}/ovfw.1.gz" "${OVFW_MAN_DIR}/ov_meter_emulator.1.gz" "${OVFW_MAN_DIR}/ovfw-upgrade.1.gz")
install(FILES "${OVFW_MAN_DIR}/ovfw.1.gz" "${OVFW_MAN_DIR}/ov_meter_emulator.1.gz"
  "${OVFW_MAN_DIR}/ovfw-upgrade.1.gz" DESTINATION share/man/man1)

# Bash completion for ovfw, where bash-completion loads it on first use, and
# zsh's, where Debian's zsh looks for vendors' completions.
install(FILES packaging/ovfw.bash-completion DESTINATION share/bash-completion/completions RENAME ovfw)
install(FILES packaging/ovfw.zsh-completion DESTINATION share/zsh/vendor-completions RENAME _ovfw)

# The person at the seat gets the bench's USB-serial adapters (the tty node
# and the USB device node) through udev's uaccess tag; post-install applies it
# to adapters plugged in already. Debian 12 keeps udev rules in /lib.
install(FILES packaging/70-ovfw-upgrade.rules DESTINATION /lib/udev/rules.d)

# Debian's documentation files: the copyright and the changelog.
set(OVFW_DOC_DIR share/doc/${OVFW_PACKAGE_NAME})
add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/packaging/changelog.gz"
  COMMAND sh -c "gzip -9nc \"$0\" > changelog.gz" "${PROJECT_SOURCE_DIR}/packaging/changelog"
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}/packaging"
  DEPENDS packaging/changelog
  VERBATIM)
add_custom_target(ovfw_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
install(FILES packaging/copyright "${PROJECT_BINARY_DIR}/packaging/changelog.gz" DESTINATION ${OVFW_DOC_DIR})
# A station's example unit for systemd, to copy and adapt; the example
# profile and the reference of ovfw's output, which the guide points to.
install(FILES docs/ovfw-station.service DESTINATION ${OVFW_DOC_DIR}/examples)
install(FILES docs/station-profile.toml docs/cli-output.md DESTINATION ${OVFW_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Qt loads its platform and SQL drivers as plugins, which dpkg-shlibdeps
# cannot see: SQLite for the history, PostgreSQL for the records server.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, libqt6sql6-psql")
# A Debian package installs under /usr, whatever prefix the build has.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME ${OVFW_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "orvane")
set(CPACK_PACKAGE_CONTACT "orvane bench tools <bench-tools@orvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade tool for orvane meters (window and bench command line)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Upgrades the firmware of orvane meters over a serial link.\nThe window finds the meter, identifies it and sends the Intel HEX upgrade\nfile line by line; ovfw does the same for many meters at once on a bench.\nA meter emulator is included. A udev rule gives the person at the seat\nthe bench's FTDI USB-serial adapters.")
include(CPack)
