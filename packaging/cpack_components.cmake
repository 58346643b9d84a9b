# Read by cpack once per generator. The Debian package installs the program under /usr; the zip
# is a bundle, so it also holds the marker that lets the updater replace it.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${CPACK_KV_BUILD_DIR};Korvane;program;/;${CPACK_KV_BUILD_DIR};Korvane;bundle;/")
endif()
