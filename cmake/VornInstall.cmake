# What an installation holds: the two programs with their manual pages and the
# bash completion of vorn3ctl, the desktop entry, icons and AppStream metadata
# for the window, the udev rule that lets the seat's user open a VORN unit, and
# the documentation. The unit simulator is a test and demo tool and is not
# installed.
include(GNUInstallDirs)
include(VornPackageFiles)

install(TARGETS vorn3manager vorn3ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package) drops the compiler's .comment note as well.
string(CONFIGURE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program vorn3manager vorn3ctl)
      execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]] vorn_drop_comment @ONLY)
install(CODE "${vorn_drop_comment}")
install(FILES ${VORN_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/vorn3ctl.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vorn3ctl)
if(VORN_BUILD_UI)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorn3manager.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/org.example.vorn3manager.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorn3manager.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size IN LISTS VORN_ICON_SIZES)
    install(FILES ${VORN_GENERATED_DIR}/icons/${size}x${size}/vorn3manager.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()
# udev reads rules from /usr/lib/udev/rules.d (and /etc/udev/rules.d) only; under
# another prefix the rule lands beside the rest of the install and must be
# copied there by hand.
install(FILES ${PROJECT_SOURCE_DIR}/res/70-vorn3-unit.rules
        DESTINATION lib/udev/rules.d)
# The Wine module under a path that stays the same across upgrades: the link
# `vorn3ctl wine-setup` places in a Wine prefix points here.
if(VORN_WINE_MODULE)
  install(PROGRAMS $<TARGET_FILE_DIR:vorn3manager_wine>/vorn3manager.exe.so
          DESTINATION lib/vorn3manager)
  # Installed as a file, not a target, so a stripped install strips it here.
  string(CONFIGURE [[
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND "@CMAKE_STRIP@" --remove-section=.comment
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/vorn3manager/vorn3manager.exe.so"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  ]] vorn_strip_module @ONLY)
  install(CODE "${vorn_strip_module}")
endif()
# The developer README speaks of the source tree; the installed one of the
# installed commands.
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/README.md ${PROJECT_SOURCE_DIR}/res/debian/copyright
              ${VORN_GENERATED_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB VORN_DOCS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${VORN_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `cpack` in a build tree makes a Debian package that installs under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn3manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage the routine disks of VORN show units")
# Debian wants the long description in lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Lists, formats and fills the disks of VORN show-playback units (a card in a\n"
    "card reader or a unit on USB), converts routine audio to the disk's MP3 kind,\n"
    "and relays live control data from a show editor to a unit. The command-line\n"
    "tool vorn3ctl does the same disk work without a window.")
set(CPACK_PACKAGE_CONTACT "VORN3 Manager maintainers <maintainers@users.noreply.c-seed-cc1ff00c.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# udisks2 opens and unmounts cards without root or the "disk" group, polkit
# asks for the password; Wine runs the show editor beside the program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, polkitd | policykit-1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Our own scripts apply the udev rule to a unit already plugged in. They also keep
# cpack from adding ldconfig calls for the Wine module, which is no library but
# lies under /usr/lib.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/res/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/res/debian/postrm)
include(CPack)
