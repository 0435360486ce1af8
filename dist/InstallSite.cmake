# Install-time part of a site installation (see CMakeLists.txt here): the sample configuration,
# copied only where the site has none, and the systemd unit for the prefix being installed.
# Paths honour DESTDIR; file(INSTALL) adds it by itself.
function(vestrel_install_when_absent name destination)
  if(EXISTS "$ENV{DESTDIR}${destination}/${name}")
    message(STATUS "Kept the site's own: $ENV{DESTDIR}${destination}/${name}")
  else()
    file(INSTALL "${VESTREL_DIST_DIR}/${name}" DESTINATION "${destination}" ${ARGN})
  endif()
endfunction()

vestrel_install_when_absent(Config.ini "${CMAKE_INSTALL_PREFIX}")
# The device list holds passwords: never readable by every local user (the package's preinst
# adds group vestrel; a site installed by hand gives it with chgrp).
vestrel_install_when_absent(DevInfo.xml "${CMAKE_INSTALL_PREFIX}/bin"
                            FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

set(VESTREL_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file("${VESTREL_DIST_DIR}/vestrel.service.in" "${VESTREL_STAGE_DIR}/vestrel.service"
               @ONLY)
file(INSTALL "${VESTREL_STAGE_DIR}/vestrel.service"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
