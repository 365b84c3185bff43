# Every third-party dependency, found once for the whole tree.
find_package(Threads REQUIRED)

# 32-bit MIPS has no 64-bit atomic instructions: there GCC calls libatomic for
# std::atomic<std::uint64_t>, and every program links it.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#include <atomic>
#include <cstdint>
std::atomic<std::uint64_t> counter{0};
int main() { return static_cast<int>(counter.fetch_add(1)); }
]] QUELLARON_ATOMIC64_BUILTIN)
if(NOT QUELLARON_ATOMIC64_BUILTIN)
  link_libraries(atomic)
endif()
find_package(PkgConfig REQUIRED)
find_package(Boost 1.74 CONFIG REQUIRED COMPONENTS system stacktrace_backtrace)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(spdlog REQUIRED)
find_package(fmt REQUIRED)
find_package(websocketpp REQUIRED)
find_package(sdbus-c++ REQUIRED)
if(CMAKE_CROSSCOMPILING)
  # The stub generator runs on the build machine: the host's program. (The target's package
  # names a program of the target, and its version check refuses a 32-bit target.)
  find_program(SDBUSCPP_XML2CPP sdbus-c++-xml2cpp REQUIRED)
  add_executable(SDBusCpp::sdbus-c++-xml2cpp IMPORTED)
  set_target_properties(SDBusCpp::sdbus-c++-xml2cpp PROPERTIES IMPORTED_LOCATION ${SDBUSCPP_XML2CPP})
else()
  find_package(sdbus-c++-tools REQUIRED)
endif()
pkg_check_modules(GPIOD REQUIRED IMPORTED_TARGET libgpiodcxx libgpiod)
pkg_check_modules(BLUEZ REQUIRED IMPORTED_TARGET bluez)
if(QUELLARON_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(QUELLARON_BENCH)
  find_package(benchmark REQUIRED)
endif()
