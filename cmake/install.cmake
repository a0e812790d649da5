# Installation for C++ users: the library as kavet::kavet, its headers under
# include/kavet/ and a package configuration, so that another project writes
#   find_package(kavet)
#   target_link_libraries(app PRIVATE kavet::kavet)
# and includes "kavet/core/frame.h". The source tree includes "core/frame.h";
# the installed copies have their includes of kavet's own headers prefixed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(kavet_core PROPERTIES EXPORT_NAME kavet)
target_include_directories(kavet_core INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
add_library(kavet::kavet ALIAS kavet_core)

set(KAVET_EXPORTED kavet_core)
set(KAVET_CONFIG_DEPENDENCIES "find_dependency(Eigen3 3.3 NO_MODULE)\nfind_dependency(TBB)\n")
install(TARGETS ${KAVET_EXPORTED} EXPORT kavetTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/kavet-objects)
install(TARGETS kavet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT kavetTargets NAMESPACE kavet:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kavet)

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/kavetConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(CMakeFindDependencyMacro)\n@KAVET_CONFIG_DEPENDENCIES@"
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/kavetTargets.cmake\")\n")
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/kavetConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kavetConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kavet)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kavetConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavetConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/kavetConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kavet)

# The library's headers (every folder of src but the program's app/), their
# includes of one another rewritten to the kavet/ prefix.
install(CODE "
  set(KAVET_SOURCE \"${PROJECT_SOURCE_DIR}/src\")
  set(KAVET_HEADER_DESTINATION \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/kavet\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/install_headers.cmake\")
")
