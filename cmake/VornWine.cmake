# The module that runs the server and list modes under Wine, for a show editor
# that is itself a Windows program. Built whenever Wine's development tools are
# installed (package wine64-tools); the sanitizer builds leave it out, since
# Wine's loader cannot host sanitized code.
find_program(VORN_WINEGXX NAMES wineg++-stable wineg++)
find_program(VORN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VORN_WINE64 NAMES wine64-stable wine64)
find_program(VORN_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VORN_WINESERVER NAMES wineserver-stable wineserver)
find_program(VORN_MINGW_CC NAMES x86_64-w64-mingw32-gcc x86_64-w64-mingw32-gcc-win32)

if(VORN_WINEGXX AND NOT VORN_SANITIZE)
  set(VORN_WINE_MODULE ON)
else()
  set(VORN_WINE_MODULE OFF)
endif()

# vorn_wine_object(OUT source): compiles `source` with wineg++ into the object
# file OUT, for the few sources that include windows.h.
function(vorn_wine_object out source)
  get_filename_component(name ${source} NAME_WE)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.wine.o)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" type)
  separate_arguments(flags UNIX_COMMAND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${type}}")
  # The same hardening as every other object (VornDefaults.cmake).
  list(APPEND flags -fstack-protector-strong)
  if(NOT type STREQUAL "DEBUG")
    list(APPEND flags -D_FORTIFY_SOURCE=2)
  endif()
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${VORN_WINEGXX} -std=c++20 -fPIC ${flags} ${VORN_WARNINGS}
            -I${PROJECT_SOURCE_DIR} -MD -MF ${object}.d -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "Compiling ${name} for Wine"
    VERBATIM)
  set(${out} ${object} PARENT_SCOPE)
endfunction()
