# The Debian package "tirv", installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tirv)
set(CPACK_PACKAGE_VENDOR TIRV)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Virtual serial ports for network serial-device servers")
set(CPACK_PACKAGE_DESCRIPTION
    "TIRV finds serial-device servers on the local networks and makes one virtual serial port \
(a pseudo-terminal) per device port, bridged to the device over TCP. It has a desktop window, \
a command-line tool (tirvctl) and a per-user connection service that systemd can keep running.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TIRV maintainers <maintainers@tirv.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# dpkg-shlibdeps turns the linked Qt 5 libraries into the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese interface needs a CJK font.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-wqy-microhei, qttranslations5-l10n")
include(CPack)
