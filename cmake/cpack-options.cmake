# Per generator, when CPack runs: the Debian package installs the release's tree into /opt/ridel
# (the archives hold it under their top folder). CMake finds its package there unaided
# (/opt/ridel/lib/cmake/ridel); pkg-config with PKG_CONFIG_PATH=/opt/ridel/lib/pkgconfig.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /opt/ridel)
endif()
