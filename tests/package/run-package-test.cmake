# Installs the build into a fresh prefix, builds the outside host against it with CMake
# and checks the pkg-config file, then runs the host offscreen.
# Usage: cmake -DBUILD=<build dir> -DWORK=<scratch dir> -DSOURCE=<host source> -P run-package-test.cmake
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
foreach(installed lib/libvexo-lib-display-qt4.so lib/libcommon-logging-dispatcher.so
        bin/vexo-display-viewer lib/cmake/VexoDisplayQt4/VexoDisplayQt4Config.cmake
        lib/pkgconfig/vexo-display-qt4.pc include/vexo-display-qt4/display/Qt4DisplaySceneVisualizer.h)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/host -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/host)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  run(${PKG_CONFIG} --libs --cflags vexo-display-qt4)
  if(NOT last_output MATCHES "-lvexo-lib-display-qt4" OR NOT last_output MATCHES "include/vexo-display-qt4")
    message(FATAL_ERROR "unexpected pkg-config output: ${last_output}")
  endif()
endif()

set(ENV{QT_QPA_PLATFORM} offscreen)
run(${WORK}/host/outside-host)
message(STATUS "${last_output}")
