# Checks the client's layers:
#   src/client/engine, the game's additions to the 3D engine, includes no
#              header of the game (src/client/*.h), so the additions build
#              and link without it;
#   src/client, src/platform and tools include of the physics engine only
#              its public header dgPhysics.h;
#   the rule files, the pure arithmetic the classes call (listed below),
#              include of the repository only other rule files, so no class
#              of the game or of the engine additions, and of the 3D engine
#              only the headers of the value types they compute with (listed
#              below), never <irrlicht.h>: they build and are tested without
#              a device, a scene or the globals.
# Tests, benchmarks and fuzz targets may reach the engine's internals and are
# not checked. An include is resolved as the compiler would find it: beside
# the including file, then under src/, then in the engine's three folders
# (which every target linking the engine has on its include path), so a bare
# "dgAssert.h" is caught as well as "physics/core/dgAssert.h".
# Run as: cmake -DSOURCE_DIR=<repository> -DENGINE_INCLUDE_DIR=<the 3D engine's
#         headers> -P check_client_layers.cmake
if(NOT SOURCE_DIR OR NOT ENGINE_INCLUDE_DIR)
  message(FATAL_ERROR "SOURCE_DIR and ENGINE_INCLUDE_DIR must be set")
endif()
# Resolved includes are real paths; compare them with real paths.
get_filename_component(SOURCE_DIR ${SOURCE_DIR} REALPATH)
get_filename_component(ENGINE_INCLUDE_DIR ${ENGINE_INCLUDE_DIR} REALPATH)

# The rule files: each class's arithmetic beside it (*math.*), the game's
# constants and resource ids, and the engine additions' pure rules (particle
# emission, grass files, the tide) with the small value helpers they share.
set(rule_patterns
  src/client/*math.h src/client/*math.cpp src/client/constants.h src/client/resourceids.h
  src/client/engine/Finite.h src/client/engine/SParticle.h src/client/engine/ParticleMath.h
  src/client/engine/ParticleEmission.h src/client/engine/ParticleEmission.cpp
  src/client/engine/RandomSource.h src/client/engine/RandomSource.cpp
  src/client/engine/GrassFile.h src/client/engine/GrassFile.cpp
  src/client/engine/ITideGenerator.h src/client/engine/CTideGenerator.h src/client/engine/CTideGenerator.cpp)
set(rule_files "")
foreach(pattern ${rule_patterns})
  file(GLOB matched ${SOURCE_DIR}/${pattern})
  foreach(m ${matched})
    get_filename_component(real ${m} REALPATH)
    list(APPEND rule_files ${real})
  endforeach()
endforeach()
# The 3D engine's value types: numbers, vectors, matrices, rectangles,
# colours, arrays and strings, key codes, and the reference count that the
# tide generator, an engine object, carries.
set(engine_value_headers
  irrTypes.h irrMath.h irrAllocator.h irrArray.h irrString.h heapsort.h vector2d.h vector3d.h
  position2d.h dimension2d.h rect.h line2d.h line3d.h plane3d.h triangle3d.h aabbox3d.h matrix4.h
  quaternion.h SColor.h Keycodes.h IReferenceCounted.h)

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
      get_filename_component(real_file ${f} REALPATH)
      list(FIND rule_files ${real_file} is_rule)
      if(NOT is_rule EQUAL -1)
        if(target)
          list(FIND rule_files ${target} target_is_rule)
          string(FIND "${target}" "${src}/client/" in_client)
          if(in_client EQUAL 0 AND target_is_rule EQUAL -1)
            list(APPEND failures "${name} includes \"${header}\", which is no rule file")
          endif()
        elseif(EXISTS ${ENGINE_INCLUDE_DIR}/${header})
          list(FIND engine_value_headers ${header} value_header)
          if(value_header EQUAL -1)
            list(APPEND failures "${name} includes the 3D engine's \"${header}\", which is no value type")
          endif()
        endif()
      endif()
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
message(STATUS "client layers: engine additions free of the game, the physics engine reached through dgPhysics.h, rule files pure")
