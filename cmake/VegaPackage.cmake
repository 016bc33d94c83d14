# One Debian package with every program that is built: `cpack -G DEB` in a build
# folder (after building it). The layout is that of the install rules; the menu,
# MIME and icon caches are refreshed by the triggers of the packages that own them.
set(CPACK_PACKAGE_NAME vega-drydock)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vega ship tools <vega-ship-tools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Install and author ship packages for the game Vega")
set(CPACK_PACKAGE_DESCRIPTION "Drydock installs ship packages (.xsp) into Vega and selects \
its mod, also for the game run under Wine or Proton; Hullwright authors the packages.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# The Qt libraries (Charts among them, for the authoring window), zlib and liblzma
# come from dpkg-shlibdeps (package dpkg-dev).
# The window needs a platform plugin, which the Qt GUI library only recommends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, qt6-translations-l10n")
include(CPack)
