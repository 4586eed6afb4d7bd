# The client layer check over a planted tree (tree/, its 3D engine's headers
# in tree/engine): it must report exactly the tree's six breaks, one of each
# kind of include, and nothing the tree is allowed (the game's own headers,
# dgPhysics.h by either path, system headers, a tool's own header that shares
# a name with the engine's, a rule file's rule-file header and engine value
# type, <irrlicht.h> outside the rule files), so a check that misses a break
# or flags an allowed include fails here.
# Run as: cmake -DCHECK=<tools/check_client_layers.cmake> -P run.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/tree
  -DENGINE_INCLUDE_DIR=${CMAKE_CURRENT_LIST_DIR}/tree/engine -P ${CHECK}
  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
string(REGEX MATCHALL "[^\n ]+ includes [^\n]+" found "${errors}")
set(expected
  "src/client/engine/Addition.cpp includes the game's \"../game.h\""
  "src/client/engine/GrassFile.cpp includes \"client/engine/Addition.h\", which is no rule file"
  "src/client/plantmath.cpp includes \"client/game.h\", which is no rule file"
  "src/client/plantmath.h includes the 3D engine's \"irrlicht.h\", which is no value type"
  "src/platform/layer.cpp includes the physics engine's internal \"dgInternal.h\""
  "tools/tool/main.cpp includes the physics engine's internal \"physics/core/dgInternal.h\"")
if(result EQUAL 0 OR NOT found STREQUAL expected)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "the check reported (exit ${result}):\n  ${text}")
endif()
message(STATUS "client layer check: reports the planted breaks and only those")
