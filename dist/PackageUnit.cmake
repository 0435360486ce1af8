# Runs in CPack after the staging installation: the package puts the unit where systemd looks
# for the units of packages, /lib/systemd/system, rather than under the site's prefix.
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(unit "${staged}${CPACK_VESTREL_PACKAGE_PREFIX}/lib/systemd/system/vestrel.service")
if(NOT EXISTS "${unit}")
  message(FATAL_ERROR "vestrel.service is missing from the staged package: ${unit}")
endif()
file(MAKE_DIRECTORY "${staged}/lib/systemd/system")
file(RENAME "${unit}" "${staged}/lib/systemd/system/vestrel.service")
file(REMOVE_RECURSE "${staged}${CPACK_VESTREL_PACKAGE_PREFIX}/lib")
