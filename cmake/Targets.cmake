# Conventions shared by every folder: warnings as errors, optional sanitizers,
# one static library per subsystem folder and GoogleTest executables with CTest labels.

set(QUELLARON_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)

# 64-bit file offsets and inode numbers on 32-bit processors too (glibc's default there is 32
# bits; musl has only 64): otherwise readdir fails with EOVERFLOW on a file system that hands
# out 64-bit inode numbers or directory positions, as ext4 does under a 64-bit kernel.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_FILE_OFFSET_BITS=64)
endif()

if(QUELLARON_SANITIZE)
  string(REPLACE ";" "," _sanitizers "${QUELLARON_SANITIZE}")
  add_compile_options(-fsanitize=${_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_sanitizers})
  if("thread" IN_LIST QUELLARON_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Boost.Asio uses std::atomic_thread_fence, which ThreadSanitizer cannot model; GCC warns.
    list(APPEND QUELLARON_WARNINGS -Wno-tsan)
  endif()
endif()

# The daemon and the stand-ins include their headers relative to src/ (e.g. "timer/timer_queue.h").
set(QUELLARON_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)

# quellaron_library(<name> [SOURCES ...] [DEPS ...])
# A static library qn_<name> (or an interface library when it has no sources).
function(quellaron_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(target qn_${name})
  if(ARG_SOURCES)
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${QUELLARON_SOURCE_ROOT})
    target_compile_options(${target} PRIVATE ${QUELLARON_WARNINGS})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${QUELLARON_SOURCE_ROOT})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# quellaron_executable(<name> SOURCES ... [DEPS ...])
function(quellaron_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QUELLARON_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# quellaron_test(<name> LABEL unit|component|e2e SOURCES ... [DEPS ...] [TIMEOUT seconds])
# One GoogleTest executable; every test case in it becomes a CTest test with the label.
function(quellaron_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_LABEL MATCHES "^(unit|component|e2e)$")
    message(FATAL_ERROR "quellaron_test(${name}): LABEL must be unit, component or e2e")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # A cross build runs the unit and component tiers under the emulator; the end-to-end tier
  # (the sandboxed daemon among the stand-ins) stays native: built on request only, not run.
  set(exclude)
  if(CMAKE_CROSSCOMPILING AND ARG_LABEL STREQUAL "e2e")
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  add_executable(${name} ${exclude} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QUELLARON_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} qn_router_stacks qn_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  if(exclude)
    return()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QUELLARON_BUILD_DIR=${PROJECT_BINARY_DIR};QUELLARON_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# quellaron_dbus_stubs(<target> [ADAPTORS file.xml ...] [PROXIES file.xml ...])
# Generates sdbus-c++ adaptor and proxy headers from introspection XML at build time, into
# <build>/dbus-stubs/<target>/, named <xml name>_adaptor.h and <xml name>_proxy.h, and adds
# that folder to the target's include path. (xml2cpp writes absolute paths into its include
# guards, so the headers are never committed.)
function(quellaron_dbus_stubs target)
  cmake_parse_arguments(ARG "" "" "ADAPTORS;PROXIES" ${ARGN})
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/dbus-stubs/${target})
  file(MAKE_DIRECTORY ${out_dir})
  set(headers)
  foreach(kind adaptor proxy)
    if(kind STREQUAL "adaptor")
      set(xml_files ${ARG_ADAPTORS})
    else()
      set(xml_files ${ARG_PROXIES})
    endif()
    foreach(xml ${xml_files})
      get_filename_component(xml_path ${xml} ABSOLUTE)
      get_filename_component(stem ${xml} NAME_WE)
      set(header ${out_dir}/${stem}_${kind}.h)
      add_custom_command(OUTPUT ${header}
        COMMAND SDBusCpp::sdbus-c++-xml2cpp --${kind}=${header} ${xml_path}
        DEPENDS ${xml_path} SDBusCpp::sdbus-c++-xml2cpp
        COMMENT "Generating D-Bus ${kind} ${stem}_${kind}.h"
        VERBATIM)
      list(APPEND headers ${header})
    endforeach()
  endforeach()
  add_custom_target(${target}_dbus_stubs DEPENDS ${headers})
  add_dependencies(${target} ${target}_dbus_stubs)
  target_include_directories(${target} PUBLIC ${out_dir})
endfunction()
