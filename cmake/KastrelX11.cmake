# libX11 for the screenshot tool and the end-to-end tests, found once for the whole build.
# Defines the target PkgConfig::KASTREL_X11 when libX11 and its headers are installed.
if(NOT TARGET PkgConfig::KASTREL_X11)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KASTREL_X11 QUIET IMPORTED_TARGET GLOBAL x11)
  endif()
endif()
