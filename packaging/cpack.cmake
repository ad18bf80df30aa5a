# The Debian package (cpack -G DEB): its dependencies come from the shared
# libraries the programs and the module link (dpkg-shlibdeps); it needs no
# maintainer scripts.
set(CPACK_PACKAGE_NAME vxrt7-config)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Veliran")
set(CPACK_PACKAGE_CONTACT "VX-RT-7 configurator developers <vxrt7-config@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configurator of the VX-RT-7 Veliran GSM relay key")
set(CPACK_PACKAGE_DESCRIPTION
    "Reads and writes the configuration, the subscriber number list and the touch-memory keys of the VX-RT-7 GSM relay key over a serial port or a TCP server, saves configuration files, imports and exports CSV and updates the device's firmware. Includes the device simulator vxrt7-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
