# Header, shared library, pkg-config file and CMake package configuration.
include(CMakePackageConfigHelpers)

install(TARGETS qeltble EXPORT qeltbleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT qeltbleTargets NAMESPACE qeltble:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qeltble)

configure_package_config_file(cmake/qeltbleConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/qeltbleConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qeltble)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qeltbleConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qeltbleConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/qeltbleConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qeltble)

# The pkg-config file finds its prefix relative to itself, so the installed
# tree can be moved.
file(RELATIVE_PATH QELTBLE_PC_RELATIVE_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/qeltble.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qeltble.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qeltble.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
