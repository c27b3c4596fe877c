# packaging.cmake - the library as it is installed: a shared library made
# from the very objects of the static one, the public header, a pkg-config
# file and a CMake package configuration (targets tidewell::tidewell, the
# shared library, and tidewell::tidewell_static).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Position-independent objects serve both libraries, so every source,
# definition and option given to `tidewell` reaches the shared one too.
set_target_properties(tidewell PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  EXPORT_NAME tidewell_static)

add_library(tidewell_shared SHARED $<TARGET_OBJECTS:tidewell>)
set_target_properties(tidewell_shared PROPERTIES
  OUTPUT_NAME tidewell
  EXPORT_NAME tidewell
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  LINKER_LANGUAGE CXX
  LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tidewell.map)
# Only the td_ operations are exported; the C++ inside stays private.
target_link_options(tidewell_shared PRIVATE
  "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/tidewell.map")
target_include_directories(tidewell_shared PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>)

# pkg-config: relocatable, the prefix is found from where the .pc file lies.
set(tidewell_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TIDEWELL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TIDEWELL_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TIDEWELL_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH tidewell_pc_up "/root/${tidewell_pc_dir}" "/root")
  set(TIDEWELL_PC_PREFIX "\${pcfiledir}/${tidewell_pc_up}")
  set(TIDEWELL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TIDEWELL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(tidewell.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tidewell.pc @ONLY)

# CMake package configuration.
set(tidewell_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/tidewell")
configure_package_config_file(tidewellConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tidewellConfig.cmake
  INSTALL_DESTINATION ${tidewell_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tidewellConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)

install(TARGETS tidewell tidewell_shared
  EXPORT tidewellTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES tidewell.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tidewell.pc DESTINATION ${tidewell_pc_dir})
install(EXPORT tidewellTargets
  NAMESPACE tidewell::
  DESTINATION ${tidewell_cmake_dir})
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/tidewellConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tidewellConfigVersion.cmake
  DESTINATION ${tidewell_cmake_dir})
