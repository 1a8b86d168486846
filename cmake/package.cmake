# The installed package (native builds): Corvane::corvane for programs, a CMake
# package config with its version, and corvane.pc for pkg-config. Nothing here
# names an absolute path, so the installed tree can be moved as a whole.
include(CMakePackageConfigHelpers)

# One target for programs: the facade, the POSIX host and the core.
add_library(corvane INTERFACE)
target_link_libraries(corvane INTERFACE corvane_cpp)
add_library(Corvane::corvane ALIAS corvane)
install(TARGETS corvane EXPORT CorvaneTargets)

set(corvane_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${corvane_config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake INSTALL_DESTINATION ${corvane_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake ${PROJECT_BINARY_DIR}/CorvaneConfigVersion.cmake
  DESTINATION ${corvane_config_dir})

# pkg-config finds the prefix from where the .pc file lies.
file(RELATIVE_PATH corvane_pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" corvane_pc_up ${corvane_pc_up})
configure_file(${CMAKE_CURRENT_LIST_DIR}/corvane.pc.in ${PROJECT_BINARY_DIR}/corvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/corvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
