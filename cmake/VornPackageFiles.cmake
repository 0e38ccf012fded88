# Files of the installation made at build time from their one source: the
# manual pages from the programs' own help, the icon sizes from the SVG icon,
# the compressed changelog. All of them are reproducible: the date comes from
# the changelog, not the clock.
find_program(VORN_HELP2MAN help2man REQUIRED)
find_program(VORN_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(VORN_GZIP gzip REQUIRED)

set(VORN_CHANGELOG ${PROJECT_SOURCE_DIR}/res/debian/changelog)
# The package's version is the project's; the changelog must say the same.
file(STRINGS ${VORN_CHANGELOG} _vorn_changelog_head LIMIT_COUNT 1)
if(NOT _vorn_changelog_head MATCHES "^vorn3manager \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "res/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()
execute_process(COMMAND dpkg-parsechangelog -l ${VORN_CHANGELOG} -S Timestamp
                OUTPUT_VARIABLE VORN_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _vorn_parse_result)
if(NOT _vorn_parse_result EQUAL 0)
  message(FATAL_ERROR "cannot read the date of res/debian/changelog (dpkg-parsechangelog)")
endif()

set(VORN_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
set(VORN_MAN_PAGES ${VORN_GENERATED_DIR}/man/vorn3manager.1.gz ${VORN_GENERATED_DIR}/man/vorn3ctl.1.gz)
# A manual page made from PROGRAM's own --help, naming SEE_ALSO.
function(vorn_man_page program description see_also)
  set(page ${VORN_GENERATED_DIR}/man/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORN_GENERATED_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VORN_SOURCE_DATE_EPOCH}
            ${PROJECT_SOURCE_DIR}/res/make-man-page.sh $<TARGET_FILE:${program}> "${description}" ${see_also} ${page}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/res/make-man-page.sh ${VORN_CHANGELOG}
    COMMENT "Manual page ${program}(1)" VERBATIM)
endfunction()
vorn_man_page(vorn3manager "manage the routine disks of VORN show units" vorn3ctl)
vorn_man_page(vorn3ctl "manage VORN disks from the command line" vorn3manager)

set(VORN_ICON_SIZES 16 22 24 32 48 64 128 256)
set(VORN_ICONS)
foreach(size IN LISTS VORN_ICON_SIZES)
  set(icon ${VORN_GENERATED_DIR}/icons/${size}x${size}/vorn3manager.png)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORN_GENERATED_DIR}/icons/${size}x${size}
    COMMAND ${VORN_RSVG_CONVERT} --width=${size} --height=${size} --output=${icon}
            ${PROJECT_SOURCE_DIR}/res/vorn3manager.svg
    DEPENDS ${PROJECT_SOURCE_DIR}/res/vorn3manager.svg VERBATIM)
  list(APPEND VORN_ICONS ${icon})
endforeach()

add_custom_command(
  OUTPUT ${VORN_GENERATED_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORN_GENERATED_DIR}
  COMMAND sh -c "${VORN_GZIP} -9n < ${VORN_CHANGELOG} > ${VORN_GENERATED_DIR}/changelog.gz"
  DEPENDS ${VORN_CHANGELOG} VERBATIM)

add_custom_target(vorn_package_files ALL
  DEPENDS ${VORN_MAN_PAGES} ${VORN_ICONS} ${VORN_GENERATED_DIR}/changelog.gz)
