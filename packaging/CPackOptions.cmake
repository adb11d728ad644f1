# Read by cpack for each generator it runs.

# The Debian package installs under /usr, so the udev rule lands in /usr/lib/udev/rules.d where
# udev reads it. The source archive keeps the tree's own layout.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
