# cmake -DCLI=sf6cli -DTEMPLATE=sf6cli.1.in -DOUT=sf6cli.1 -DPROJECT_VERSION=V -P ManPage.cmake
# The man page's list of commands comes from sf6cli's own command table.
execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${CLI} --man-commands
                OUTPUT_VARIABLE SF6CLI_COMMANDS RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR SF6CLI_COMMANDS STREQUAL "")
  message(FATAL_ERROR "sf6cli --man-commands failed (${result})")
endif()
configure_file(${TEMPLATE} ${OUT} @ONLY)
