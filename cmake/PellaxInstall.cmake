include(CMakePackageConfigHelpers)

install(TARGETS pellax EXPORT PellaxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/pellax.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT PellaxTargets NAMESPACE Pellax:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellax)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/PellaxConfig.cmake.in
  ${CMAKE_BINARY_DIR}/PellaxConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellax)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/PellaxConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/PellaxConfig.cmake ${CMAKE_BINARY_DIR}/PellaxConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellax)

file(RELATIVE_PATH PELLAX_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" PELLAX_PC_TO_PREFIX "${PELLAX_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/pellax.pc.in ${CMAKE_BINARY_DIR}/pellax.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pellax.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
