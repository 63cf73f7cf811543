# The device-arrival monitor of platform/linux uses libudev.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
target_link_libraries(tw_platform_linux PUBLIC PkgConfig::UDEV)
