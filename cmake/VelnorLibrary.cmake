# velnor_library(<name> DEPS <targets...>): one static library from the .cpp files of the
# current folder (main.cpp excluded), with the project's options.
function(velnor_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC velnor_options ${ARG_DEPS})
endfunction()
