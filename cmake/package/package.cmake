# The CMake package that scripts/package puts in the release zip, staged in
# the build as it is laid out there, under lib/cmake/semilist.
include(CMakePackageConfigHelpers)
set(SEMILIST_NSIS_TARGET ${nsis_target})
set(package_dir ${CMAKE_BINARY_DIR}/package/lib/cmake/semilist)
configure_file(${CMAKE_CURRENT_LIST_DIR}/semilist-config.cmake.in
               ${package_dir}/semilist-config.cmake @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/semilist-cpack-nsis.cmake
               ${package_dir}/semilist-cpack-nsis.cmake COPYONLY)
# Before 1.0 a minor version may change what a caller relies on. The
# package serves NSIS and Windows hosts, whatever the build's own pointer
# size.
write_basic_package_version_file(${package_dir}/semilist-config-version.cmake
  COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
