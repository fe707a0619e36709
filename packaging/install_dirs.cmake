# Where things install. Debian keeps libraries in the multiarch directory
# (lib/x86_64-linux-gnu), and the package built from this tree installs under
# /usr whatever prefix the tree was configured for. GNUInstallDirs picks
# multiarch only when configured for /usr, but the CMake and pkg-config files
# of lzxcomp record the library's depth below the prefix at configure time,
# so one library directory must serve both: multiarch wherever the system has
# it (Debian's loader, pkg-config and find_package search it under
# /usr/local and other prefixes too). -DCMAKE_INSTALL_LIBDIR=... overrides.
set(KELTO_MULTIARCH_LIBDIR "")
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND NOT CMAKE_CROSSCOMPILING)
  set(KELTO_MULTIARCH_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()

if(KELTO_MULTIARCH_LIBDIR)
  # A tree configured before this choice holds GNUInstallDirs' plain "lib",
  # which a package built from it would still ship; take that as unchosen.
  get_property(libdir_help CACHE CMAKE_INSTALL_LIBDIR PROPERTY HELPSTRING)
  if(NOT DEFINED CMAKE_INSTALL_LIBDIR
     OR (NOT DEFINED KELTO_LIBDIR_CHOSEN AND CMAKE_INSTALL_LIBDIR STREQUAL "lib"
         AND libdir_help STREQUAL "Object code libraries (lib)"))
    set(CMAKE_INSTALL_LIBDIR ${KELTO_MULTIARCH_LIBDIR} CACHE PATH
        "Object code libraries (${KELTO_MULTIARCH_LIBDIR})" FORCE)
  endif()
  set(KELTO_LIBDIR_CHOSEN ${CMAKE_INSTALL_LIBDIR} CACHE INTERNAL "Library directory last configured")
endif()

set(libdir_before ${CMAKE_INSTALL_LIBDIR})
include(GNUInstallDirs)
# GNUInstallDirs resets its own default when the prefix moves away from /usr;
# keep the multiarch directory unless someone set another one.
if(KELTO_MULTIARCH_LIBDIR AND libdir_before STREQUAL KELTO_MULTIARCH_LIBDIR
   AND NOT CMAKE_INSTALL_LIBDIR STREQUAL libdir_before)
  set_property(CACHE CMAKE_INSTALL_LIBDIR PROPERTY VALUE ${libdir_before})
  set(CMAKE_INSTALL_LIBDIR ${libdir_before})
  set(CMAKE_INSTALL_FULL_LIBDIR ${CMAKE_INSTALL_PREFIX}/${libdir_before})
endif()
