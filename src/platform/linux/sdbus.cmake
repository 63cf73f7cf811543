# The card opener of platform/linux talks to udisks2 over the system bus with
# sd-bus of libsystemd (the same library family as libudev above).
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(tw_platform_linux PUBLIC PkgConfig::SYSTEMD)
