# What an installation holds: the two programs, the desktop entry and icon for
# the window, and the udev rule that lets the seat's user open a VORN unit.
# The unit simulator is a test and demo tool and is not installed.
include(GNUInstallDirs)

install(TARGETS vorn3manager vorn3ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VORN_BUILD_UI)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorn3manager.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vorn3manager.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
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
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/named-objects.md
              ${PROJECT_SOURCE_DIR}/docs/drives.md ${PROJECT_SOURCE_DIR}/docs/wine.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `cpack` in a build tree makes a Debian package that installs under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn3manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage the routine disks of VORN show units")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists, formats and fills the disks of VORN show-playback units (a card in a card reader or a unit on USB), converts routine audio to the disk's MP3 kind, and relays live control data from a show editor to a unit.")
set(CPACK_PACKAGE_CONTACT "VORN3 Manager developers <vorn3manager@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Cards without root or the "disk" group: udisks2 opens and unmounts them, polkit
# asks for the password.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, polkitd | policykit-1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
