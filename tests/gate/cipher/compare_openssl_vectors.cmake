# Runs a vector script again and fails when its output differs from the checked-in file.
# HINT (optional) says what the script needs on this machine.
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed (${rc}); ${HINT}")
endif()
file(READ ${EXPECTED} expected)
file(READ ${OUT} now)
if(NOT expected STREQUAL now)
  message(FATAL_ERROR "${SCRIPT} now writes other vectors than ${EXPECTED}")
endif()
