# Builds the package in a scratch folder and fails unless it holds the
# library, its declaration and the readme, in the host's layout.
set(scratch ${BUILD_DIR}/package-check)
file(REMOVE_RECURSE ${scratch})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake -B ${scratch}
  RESULT_VARIABLE status OUTPUT_QUIET)
file(GLOB archive ${scratch}/Umbrex-*.zip ${scratch}/Umbrex-*.tar.gz)
if(NOT status EQUAL 0 OR NOT archive)
  message(FATAL_ERROR "cpack made no package in ${scratch}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive} OUTPUT_VARIABLE listing)
foreach(expected "lib/${LIBRARY}" "include/Umbrex.mi" "README.txt")
  if(NOT listing MATCHES "/${expected}\n")
    message(FATAL_ERROR "${archive} lacks ${expected}; it holds:\n${listing}")
  endif()
endforeach()
file(REMOVE_RECURSE ${scratch})
