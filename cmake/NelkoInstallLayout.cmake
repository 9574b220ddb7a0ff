# Where an install puts each file. The console tool finds the installed add-in and drivers
# relative to itself from these, and packaging/CMakeLists.txt installs by them.
include(GNUInstallDirs)
set(NELKO_PACKAGE_NAME nelko-client-driver)
if(WIN32)
  # The Windows packages keep everything in one folder, beside the console tool.
  set(NELKO_INSTALLED_ADDIN_FROM_BINDIR NelkoClientDriver.dll)
  set(NELKO_INSTALLED_DRIVERS_FROM_BINDIR .)
else()
  # FreeRDP loads plug-ins from the add-in folder fixed when it was built, one for FreeRDP 2
  # and one for FreeRDP 3, in the system's library folder whatever our install prefix. A
  # release that has FreeRDP 2 gets the plug-in in both; one without it (Debian 13), in
  # FreeRDP 3's alone, whose folder no package of that release creates.
  include(NelkoFreeRDP)
  set(NELKO_INSTALL_ADDIN_DIRS ${NELKO_FREERDP_LIBDIR}/freerdp3)
  if(NELKO_FREERDP EQUAL 2)
    list(PREPEND NELKO_INSTALL_ADDIN_DIRS ${NELKO_FREERDP_LIBDIR}/freerdp2)
  endif()
  # Instrument drivers are private libraries, loaded by their folder, never by ld.so.
  set(NELKO_INSTALL_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/nelko)
  list(GET NELKO_INSTALL_ADDIN_DIRS 0 _nelko_addin_dir)
  file(RELATIVE_PATH NELKO_INSTALLED_ADDIN_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
    ${_nelko_addin_dir}/libNelkoClientDriver-client.so)
  file(RELATIVE_PATH NELKO_INSTALLED_DRIVERS_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
    ${CMAKE_INSTALL_FULL_LIBDIR}/nelko)
  unset(_nelko_addin_dir)
endif()
