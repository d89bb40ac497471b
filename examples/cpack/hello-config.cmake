# find_package(hello) in another CMake project: the installed program.
add_executable(hello::hello IMPORTED)
set_target_properties(hello::hello PROPERTIES
  IMPORTED_LOCATION "${CMAKE_CURRENT_LIST_DIR}/../../../bin/hello.exe")
