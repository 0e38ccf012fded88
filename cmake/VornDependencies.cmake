# System libraries, all from Debian packages (see scripts/install-deps.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(BLKID REQUIRED IMPORTED_TARGET blkid)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)  # sd-bus, to reach udisks2
pkg_check_modules(LIBUSB01 REQUIRED IMPORTED_TARGET libusb)
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)  # sync's sector hashes

find_path(MP3LAME_INCLUDE_DIR lame/lame.h REQUIRED)
find_library(MP3LAME_LIBRARY mp3lame REQUIRED)
add_library(Mp3Lame::Mp3Lame UNKNOWN IMPORTED)
set_target_properties(Mp3Lame::Mp3Lame PROPERTIES
  IMPORTED_LOCATION ${MP3LAME_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${MP3LAME_INCLUDE_DIR})

if(VORN_BUILD_UI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test Gui Svg Multimedia)
endif()
if(VORN_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()

# vorn3ctl's command line and JSON output (header-only).
find_package(CLI11 REQUIRED CONFIG)
find_package(nlohmann_json 3.10 REQUIRED CONFIG)
# Show set files (TOML).
find_package(tomlplusplus 3 REQUIRED CONFIG)
