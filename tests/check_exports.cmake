# Fails unless LIBRARY's dynamic symbol table defines exactly the five names
# the host looks up.
execute_process(COMMAND nm -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "(^|\n)[^ \n]+" names "${table}")
list(TRANSFORM names STRIP)
list(SORT names)
set(expected Umbrex Umbrex_exit Umbrex_init Umbrex_version miSetModuleHandle)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY} are [${names}], expected [${expected}]")
endif()
