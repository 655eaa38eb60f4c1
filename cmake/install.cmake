# cmake --install: the library, its header, a pkg-config file and a CMake
# package (find_package(zelsyncdll) gives zelsyncdll::zelsyncdll), and the
# command-line host on the PATH, which finds the library beside it (bin/ on
# Windows) or in the library folder next to bin/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZELSYNC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelsyncdll)

target_include_directories(zelsyncdll INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS zelsyncdll EXPORT zelsyncdllTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/zelsyncdll.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS zelsync RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT zelsyncdllTargets NAMESPACE zelsyncdll:: DESTINATION ${ZELSYNC_CMAKE_DIR})
configure_package_config_file(cmake/zelsyncdllConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zelsyncdllConfig.cmake INSTALL_DESTINATION ${ZELSYNC_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelsyncdllConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zelsyncdllConfig.cmake ${PROJECT_BINARY_DIR}/zelsyncdllConfigVersion.cmake
  DESTINATION ${ZELSYNC_CMAKE_DIR})

# The .pc file names its folders relative to ${prefix}, so that the
# installed tree works wherever it is put (cmake --install --prefix).
file(RELATIVE_PATH ZELSYNC_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/zelsyncdll.pc.in ${PROJECT_BINARY_DIR}/zelsyncdll.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelsyncdll.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(ZELSYNC_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT ZELSYNC_SANITIZE)
  # Installs into a scratch prefix and builds a small program against the
  # installed tree, once through find_package and once through pkg-config.
  # Not in a sanitizer build: its library needs the sanitizer runtime loaded
  # first, which a plain consumer does not do.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME install_and_consume
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/install/install_test.py
      --build ${PROJECT_BINARY_DIR} --consumer ${PROJECT_SOURCE_DIR}/tests/install/consumer
      --generator ${CMAKE_GENERATOR} --libdir ${CMAKE_INSTALL_LIBDIR} --bindir ${CMAKE_INSTALL_BINDIR})
endif()
