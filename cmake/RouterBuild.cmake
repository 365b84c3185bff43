# The router build, CMAKE_BUILD_TYPE=MinSizeRel (what the OpenWrt package builds, and
# scripts/build --router): -Os and -DNDEBUG (CMake's flags for the type), each function and
# variable in a section of its own so the linker drops those nothing uses, and link-time
# optimisation, which sees across the project's static libraries and the header-only
# dependencies compiled into them (the shared libraries are linked as they are).
if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections -Wl,-O1 -Wl,--as-needed)
  option(QUELLARON_LTO "Link-time optimisation in the router build" ON)
  if(QUELLARON_LTO)
    include(CheckIPOSupported)
    check_ipo_supported(RESULT lto_supported OUTPUT lto_error LANGUAGES C CXX)
    if(lto_supported)
      set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
    else()
      message(WARNING "No link-time optimisation with this tool chain: ${lto_error}")
    endif()
  endif()
endif()
