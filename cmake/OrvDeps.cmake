# Third-party dependencies. Debian ships no CMake package for SOCI, so it is found by hand.
find_package(Threads REQUIRED)
find_package(LibXml2 REQUIRED)
find_package(Boost 1.74 REQUIRED)

find_path(SOCI_INCLUDE_DIR soci/soci.h)
find_library(SOCI_CORE_LIB soci_core)
# The backends' static archives: the transaction handle the SQL layer starts its own
# transactions into is reached through a function the shared Firebird library does not export,
# and the type records of the backends' classes (which the undefined-behaviour checker needs
# for the SQL layer's casts to them) are not exported by either shared library.
find_library(SOCI_FIREBIRD_ARCHIVE NAMES libsoci_firebird.a)
find_library(SOCI_ODBC_ARCHIVE NAMES libsoci_odbc.a)
find_library(FBCLIENT_LIB fbclient)
find_path(FIREBIRD_INCLUDE_DIR ibase.h PATH_SUFFIXES firebird)
find_package(ODBC REQUIRED)
if(NOT SOCI_INCLUDE_DIR OR NOT SOCI_CORE_LIB OR NOT SOCI_FIREBIRD_ARCHIVE OR NOT SOCI_ODBC_ARCHIVE OR NOT FBCLIENT_LIB)
  message(FATAL_ERROR "SOCI with its Firebird and ODBC backends is required (scripts/setup-deps.sh installs it)")
endif()
add_library(orv_soci INTERFACE)
target_include_directories(orv_soci SYSTEM INTERFACE ${SOCI_INCLUDE_DIR} ${FIREBIRD_INCLUDE_DIR} ${Boost_INCLUDE_DIRS})
target_link_libraries(orv_soci INTERFACE ${SOCI_FIREBIRD_ARCHIVE} ${SOCI_ODBC_ARCHIVE} ${SOCI_CORE_LIB} ${FBCLIENT_LIB} ODBC::ODBC ${CMAKE_DL_LIBS})

add_library(orv_asio INTERFACE)
target_include_directories(orv_asio SYSTEM INTERFACE ${Boost_INCLUDE_DIRS})
target_compile_definitions(orv_asio INTERFACE BOOST_ASIO_NO_DEPRECATED)
target_link_libraries(orv_asio INTERFACE Threads::Threads)

if(ORVWS_FUZZ)
  # The fuzz build holds only the fuzz targets and the libraries they link.
  set(ORVWS_WINDOW OFF)
  set(ORVWS_BENCH OFF)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  if(ORVWS_BENCH)
    # Asked for and missing is an error, not a smaller build: pass -DORVWS_BENCH=OFF to go without.
    find_package(benchmark REQUIRED)
  endif()
  if(ORVWS_WINDOW)
    # Likewise the window: pass -DORVWS_WINDOW=OFF to build without it.
    find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
  endif()
endif()
