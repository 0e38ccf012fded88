# Compiler settings shared by every target of the project.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(VORN_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual)

# vorn_defaults(target): warnings and include root for one of our targets.
# Everything includes headers as "folder/File.h" from the source root; the root
# is a usage requirement of each target (public, since a library's headers
# include others the same way), not a directory-wide setting that would reach
# targets of other projects added to the build.
function(vorn_defaults target)
  target_compile_options(${target} PRIVATE ${VORN_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

set(VORN_SANITIZE "" CACHE STRING "Sanitizers to enable, e.g. address,undefined")
if(VORN_SANITIZE)
  add_compile_options(-fsanitize=${VORN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${VORN_SANITIZE})
endif()
# Fuzzing: every library gets libFuzzer's coverage hooks; only the harnesses
# link its driver (tests/fuzz/).
if(VORN_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# A compiler cache when one is installed (developer machines); CI builds without.
find_program(VORN_CCACHE ccache)
if(VORN_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${VORN_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${VORN_CCACHE})
endif()

# Hardening for every binary: position-independent executables, stack
# protector, checked libc calls where the size is known (needs optimisation;
# the sanitizer builds check more than it), read-only relocations bound at
# start. Build paths do not leak into the released binaries.
include(CheckPIESupported)
check_pie_supported()
add_compile_options(-fstack-protector-strong
                    $<$<CONFIG:Release>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>)
if(NOT VORN_SANITIZE)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
