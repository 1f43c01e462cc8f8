# Third-party code installed by scripts/setup-machine.sh; nothing is copied into the repo.

# GoogleTest from Debian's googletest package (sources in /usr/src/googletest).
set(OLVAN_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
if(EXISTS ${OLVAN_GTEST_SRC}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${OLVAN_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gtest ALIAS gtest)
  endif()
else()
  message(WARNING "GoogleTest sources not found in ${OLVAN_GTEST_SRC}; run scripts/setup-machine.sh")
  set(BUILD_TESTING OFF CACHE BOOL "" FORCE)
endif()

# TinyXML from Debian's source package, Debian's patches applied (apt-get source).
file(GLOB OLVAN_TINYXML_DIRS LIST_DIRECTORIES true ${OLVAN_DEPS}/tinyxml/tinyxml-*)
list(FILTER OLVAN_TINYXML_DIRS EXCLUDE REGEX "\\.(tar|dsc|gz|xz)")
list(GET OLVAN_TINYXML_DIRS 0 OLVAN_TINYXML_DIR)
if(NOT EXISTS ${OLVAN_TINYXML_DIR}/tinyxml.cpp)
  message(FATAL_ERROR "TinyXML sources not found under ${OLVAN_DEPS}/tinyxml; run scripts/setup-machine.sh")
endif()
add_library(olvan_tinyxml STATIC
  ${OLVAN_TINYXML_DIR}/tinyxml.cpp
  ${OLVAN_TINYXML_DIR}/tinyxmlerror.cpp
  ${OLVAN_TINYXML_DIR}/tinyxmlparser.cpp
  ${OLVAN_TINYXML_DIR}/tinystr.cpp)
target_include_directories(olvan_tinyxml SYSTEM PUBLIC ${OLVAN_TINYXML_DIR})
target_link_libraries(olvan_tinyxml PRIVATE olvan_options)
target_compile_options(olvan_tinyxml PRIVATE -w)

# The real 7-Zip console for Windows and the Linux one that makes archives (npm 7zip-bin).
set(OLVAN_7ZA_WIN ${OLVAN_DEPS}/npm/node_modules/7zip-bin/win/ia32/7za.exe)
set(OLVAN_7ZA_LINUX ${OLVAN_DEPS}/npm/node_modules/7zip-bin/linux/x64/7za)
