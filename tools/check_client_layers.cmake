# Checks the client's layers:
#   src/client/engine, the game's additions to the 3D engine, includes no
#              header of the game (src/client/*.h), so the additions build
#              and link without it;
#   src/client, src/platform and tools include of the physics engine only
#              its public header dgPhysics.h.
# Tests, benchmarks and fuzz targets may reach the engine's internals and are
# not checked. An include is resolved as the compiler would find it: beside
# the including file, then under src/, then in the engine's three folders
# (which every target linking the engine has on its include path), so a bare
# "dgAssert.h" is caught as well as "physics/core/dgAssert.h".
# Run as: cmake -DSOURCE_DIR=<repository> -P check_client_layers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()
# Resolved includes are real paths; compare them with real paths.
get_filename_component(SOURCE_DIR ${SOURCE_DIR} REALPATH)

set(src ${SOURCE_DIR}/src)
set(physics ${src}/physics)
set(search_dirs ${src} ${physics}/core ${physics}/collision ${physics}/dynamics)

# Sets ${out} to the real path of the file `header` names when included from
# `dir` (quoted includes look beside the file first), or to "" when none of
# the search folders holds it (a system or third-party header).
function(resolve_include out dir header quoted)
  set(dirs ${search_dirs})
  if(quoted)
    list(PREPEND dirs ${dir})
  endif()
  foreach(d ${dirs})
    if(EXISTS ${d}/${header} AND NOT IS_DIRECTORY ${d}/${header})
      get_filename_component(real ${d}/${header} REALPATH)
      set(${out} ${real} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(root ${src}/client ${src}/platform ${SOURCE_DIR}/tools)
  file(GLOB_RECURSE files ${root}/*.h ${root}/*.hpp ${root}/*.c ${root}/*.cpp)
  foreach(f ${files})
    get_filename_component(dir ${f} DIRECTORY)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${f})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]+)[\">].*" "\\1;\\2" parsed "${line}")
      list(GET parsed 0 delimiter)
      list(GET parsed 1 header)
      if(delimiter STREQUAL "\"")
        set(quoted TRUE)
      else()
        set(quoted FALSE)
      endif()
      resolve_include(target ${dir} ${header} ${quoted})
      if(NOT target)
        continue()
      endif()
      get_filename_component(target_dir ${target} DIRECTORY)
      get_filename_component(target_name ${target} NAME)
      string(FIND "${target}" "${physics}/" in_physics)
      if(in_physics EQUAL 0 AND NOT target_name STREQUAL "dgPhysics.h")
        list(APPEND failures "${name} includes the physics engine's internal \"${header}\"")
      endif()
      string(FIND "${name}" "src/client/engine/" in_engine)
      if(in_engine EQUAL 0 AND target_dir STREQUAL "${src}/client")
        list(APPEND failures "${name} includes the game's \"${header}\"")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "client layers broken:\n  ${text}")
endif()
message(STATUS "client layers: engine additions free of the game, the physics engine reached through dgPhysics.h")
