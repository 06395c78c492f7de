# Install rules and the find_package(KivFldIntegration CONFIG) package.
include(CMakePackageConfigHelpers)

install(TARGETS KivFldIntegration KivComponentRuntime
  EXPORT KivFldIntegrationTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/kiv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Component libraries are built against the runtime and the contracts.
install(DIRECTORY runtime/include/kiv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY components/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kiv/components
  FILES_MATCHING PATTERN "*.hpp")

set(KIVFLD_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KivFldIntegration)
install(EXPORT KivFldIntegrationTargets
  NAMESPACE KivFldIntegration::
  DESTINATION ${KIVFLD_CONFIG_DIR})
configure_package_config_file(cmake/KivFldIntegrationConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KivFldIntegrationConfig.cmake
  INSTALL_DESTINATION ${KIVFLD_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KivFldIntegrationConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KivFldIntegrationConfig.cmake
  ${PROJECT_BINARY_DIR}/KivFldIntegrationConfigVersion.cmake
  DESTINATION ${KIVFLD_CONFIG_DIR})
