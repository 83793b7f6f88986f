# Installs the build into a fresh prefix, then builds and runs a C host against it twice: through
# find_package(Pellax) and through pkg-config.
cmake_policy(SET CMP0057 NEW)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGV}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/pellax.h lib/libpellax.so lib/libpellax.so.1 lib/pkgconfig/pellax.pc
             lib/cmake/Pellax/PellaxConfig.cmake lib/cmake/Pellax/PellaxConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/by-cmake -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/by-cmake)
run(${WORK_DIR}/by-cmake/pellax_consumer)
if(NOT run_output MATCHES "pellax consumer ok")
  message(FATAL_ERROR "find_package consumer said: ${run_output}")
endif()

run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --cflags --libs pellax)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror ${CONSUMER_DIR}/main.c ${flags}
    -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pellax_consumer_pc)
run(${WORK_DIR}/pellax_consumer_pc)
if(NOT run_output MATCHES "pellax consumer ok")
  message(FATAL_ERROR "pkg-config consumer said: ${run_output}")
endif()
message(STATUS "installed package works through find_package and pkg-config")
