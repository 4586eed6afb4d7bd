# Checks that the physics layers include only downwards:
#   core       includes only core headers;
#   collision  includes core and collision headers and, of dynamics, only
#              dgDynamicsServices.h, dgPhysicsTypes.h (body-set types) and
#              dgPhysics.h (the public header, which includes only standard
#              headers), so that callback types are defined once.
# Run as: cmake -DPHYSICS_DIR=<src/physics> -P check_layers.cmake
if(NOT PHYSICS_DIR)
  message(FATAL_ERROR "PHYSICS_DIR is not set")
endif()

file(GLOB core_headers RELATIVE ${PHYSICS_DIR}/core ${PHYSICS_DIR}/core/*.h)
file(GLOB collision_headers RELATIVE ${PHYSICS_DIR}/collision ${PHYSICS_DIR}/collision/*.h)

set(failures "")
function(check_layer layer)
  set(allowed ${ARGN})
  file(GLOB files ${PHYSICS_DIR}/${layer}/*.h ${PHYSICS_DIR}/${layer}/*.cpp)
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      list(FIND allowed "${header}" found)
      if(found EQUAL -1)
        get_filename_component(name ${f} NAME)
        list(APPEND failures "${layer}/${name} includes \"${header}\"")
      endif()
    endforeach()
  endforeach()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

check_layer(core ${core_headers})
check_layer(collision ${core_headers} ${collision_headers} dgDynamicsServices.h dgPhysicsTypes.h dgPhysics.h)

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "physics layers broken:\n  ${text}")
endif()
message(STATUS "physics layers: core and collision include only downwards")
