# Installs the library for programs built on it: headers in include/qaz/, libqaz.a, a CMake
# package (find_package(qaz) gives qaz::qaz) and lib/pkgconfig/qaz.pc. Both name the prefix they
# were found in, so the data files in share/qaz are found however the prefix was moved.
include(CMakePackageConfigHelpers)

set(QAZ_VERSION 1.0.0)

# Public headers: every module header; the *_internal.hpp and grd_formats.hpp interfaces
# between a module's sources stay behind (no public header includes them).
set(QAZ_PUBLIC_HEADERS ${CMAKE_SOURCE_DIR}/src/lib/qaz.hpp)
foreach(sub ${QAZ_SUBSYSTEMS})
  file(GLOB sub_headers ${CMAKE_SOURCE_DIR}/src/lib/${sub}/*.hpp)
  foreach(h ${sub_headers})
    get_filename_component(name ${h} NAME)
    if(NOT name MATCHES "_internal\\.hpp$" AND NOT name STREQUAL "grd_formats.hpp")
      list(APPEND QAZ_PUBLIC_HEADERS ${h})
    endif()
  endforeach()
endforeach()
install(FILES ${QAZ_PUBLIC_HEADERS} DESTINATION include/qaz)

install(TARGETS qaz EXPORT qazTargets ARCHIVE DESTINATION lib)
install(EXPORT qazTargets NAMESPACE qaz:: DESTINATION lib/cmake/qaz FILE qazTargets.cmake)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qazConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qazConfig.cmake INSTALL_DESTINATION lib/cmake/qaz)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qazConfigVersion.cmake
  VERSION ${QAZ_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qazConfig.cmake ${CMAKE_BINARY_DIR}/qazConfigVersion.cmake
  DESTINATION lib/cmake/qaz)

# pkg-config: the libraries the static library needs, by their link names.
set(QAZ_PC_LIBS "-lqaz")
foreach(lib NETCDF_LIB OPENJP2_LIB AEC_LIB)
  if(${lib})
    get_filename_component(base ${${lib}} NAME_WE)
    string(REGEX REPLACE "^lib" "" base ${base})
    string(APPEND QAZ_PC_LIBS " -l${base}")
  endif()
endforeach()
string(APPEND QAZ_PC_LIBS " -lm")
# The BUFR library, when the library was built with it, comes by its own pkg-config name.
set(QAZ_PC_REQUIRES "cairo fontconfig")
if(WREPORT_FOUND)
  string(APPEND QAZ_PC_REQUIRES " libwreport")
endif()
get_target_property(QAZ_PUBLIC_DEFS qaz INTERFACE_COMPILE_DEFINITIONS)
set(QAZ_PC_CFLAGS "")
foreach(def ${QAZ_PUBLIC_DEFS})
  string(APPEND QAZ_PC_CFLAGS " -D${def}")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/qaz.pc.in ${CMAKE_BINARY_DIR}/qaz.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qaz.pc DESTINATION lib/pkgconfig)
