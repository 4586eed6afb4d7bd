# The client layer check over a planted tree (tree/): it must report exactly
# the tree's three breaks, one of each kind of include, and nothing the tree
# is allowed (the game's own headers, dgPhysics.h by either path, system
# headers, a tool's own header that shares a name with the engine's), so a
# check that misses a break or flags an allowed include fails here.
# Run as: cmake -DCHECK=<tools/check_client_layers.cmake> -P run.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/tree -P ${CHECK}
  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
string(REGEX MATCHALL "[^\n ]+ includes [^\n]+" found "${errors}")
set(expected
  "src/client/engine/Addition.cpp includes the game's \"../game.h\""
  "src/platform/layer.cpp includes the physics engine's internal \"dgInternal.h\""
  "tools/tool/main.cpp includes the physics engine's internal \"physics/core/dgInternal.h\"")
if(result EQUAL 0 OR NOT found STREQUAL expected)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "the check reported (exit ${result}):\n  ${text}")
endif()
message(STATUS "client layer check: reports the planted breaks and only those")
