# The Debian package, built by `cpack -G DEB` from the install rules (scripts/package-linux):
# kv58-controller_<version>_amd64.deb, its dependencies found by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KV58_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KV-58 developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the KV-58 scrolling text display")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${linux}/description.txt)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# Directories made by the install keep 0755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KV58_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KV58_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Said outright as well: TLS to device servers runs on the system's OpenSSL 3 (the computed
# dependencies add the exact version).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
# The window asks for Comic Sans MS, which Debian does not ship; Comic Neue has its metrics, so
# the captions fit their controls. Without it the default font takes over and some are cut.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-comic-neue")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(TARGET kv58)
  # kv58 serve's system user (postinst) needs adduser; /etc/kv58's files are the
  # administrator's once installed (conffiles).
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", adduser")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${linux}/postinst ${linux}/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
