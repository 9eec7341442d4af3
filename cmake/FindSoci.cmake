# SOCI ships neither a CMake package nor a pkg-config file on Debian:
# find the headers and libraries and make imported targets.
#   Soci::core, Soci::sqlite3, Soci::postgresql, Soci::odbc
find_path(SOCI_INCLUDE_DIR soci/soci.h)
find_library(SOCI_CORE_LIBRARY soci_core)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Soci REQUIRED_VARS SOCI_INCLUDE_DIR SOCI_CORE_LIBRARY)
if(Soci_FOUND AND NOT TARGET Soci::core)
  add_library(Soci::core UNKNOWN IMPORTED)
  set_target_properties(Soci::core PROPERTIES IMPORTED_LOCATION ${SOCI_CORE_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${SOCI_INCLUDE_DIR})
  foreach(backend sqlite3 postgresql odbc)
    find_library(SOCI_${backend}_LIBRARY soci_${backend})
    if(SOCI_${backend}_LIBRARY)
      add_library(Soci::${backend} UNKNOWN IMPORTED)
      set_target_properties(Soci::${backend} PROPERTIES IMPORTED_LOCATION ${SOCI_${backend}_LIBRARY}
                            INTERFACE_LINK_LIBRARIES Soci::core)
    endif()
  endforeach()
endif()
