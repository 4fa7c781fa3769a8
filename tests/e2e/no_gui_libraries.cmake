# Fails when PROGRAM needs a Qt GUI library, directly or through another library: the programs for
# a shell must start where no display stack is installed.
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "libQt6(Widgets|Gui)[^ ]*" gui "${libraries}")
if(gui)
  list(REMOVE_DUPLICATES gui)
  message(FATAL_ERROR "${PROGRAM} needs ${gui}")
endif()
message(STATUS "${PROGRAM} needs no Qt GUI library")
