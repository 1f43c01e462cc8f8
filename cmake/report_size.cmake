# Prints the size of the built program against the package offset.
file(SIZE ${FILE} size)
math(EXPR room "${LIMIT} - ${size}")
message(STATUS "Setup.exe: ${size} bytes (package offset ${LIMIT}, ${room} bytes to spare)")
if(size GREATER_EQUAL LIMIT)
  message(FATAL_ERROR "Setup.exe reaches the package offset ${LIMIT}")
endif()
