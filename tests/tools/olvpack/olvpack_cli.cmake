# Runs the olvpack program as a release engineer would: build, list, verify, extract and the
# refusals, with exit codes and what it prints. EMULATOR, when set, runs it (the Windows
# program under Wine); REFERENCE (or the environment's OLVAN_REFERENCE_OLVPACK), when set, is
# the Linux olvpack, whose carrier from the same stub and payload must be the same bytes.
if(DEFINED ENV{OLVAN_REFERENCE_OLVPACK})
  set(REFERENCE $ENV{OLVAN_REFERENCE_OLVPACK})
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/payload ${WORK}/bad "${WORK}/sortie é")
string(REPEAT "M" 4096 stub)
file(WRITE ${WORK}/stub.exe "${stub}")
file(WRITE ${WORK}/payload/conn_cfg.ini "[conn]\r\nserver=access.example\r\n")
file(WRITE ${WORK}/payload/Portal-cfg.xml "<portal/>\r\n")
string(REPEAT "0123456789abcdef" 5000 big)
file(WRITE ${WORK}/payload/Qt.7z "${big}")
file(WRITE ${WORK}/bad/CON.txt "x")

function(olvpack code)
  execute_process(COMMAND ${EMULATOR} ${OLVPACK} ${ARGN} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}${err}")
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "olvpack ${ARGN}: exit ${rc}, expected ${code}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
function(expect_in text)
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected '${text}' in:\n${out}")
  endif()
endfunction()

olvpack(0 build --stub stub.exe --payload payload --output Setup.exe)
olvpack(0 list Setup.exe)
expect_in("80000  Qt.7z")
olvpack(0 verify Setup.exe)
expect_in("Setup.exe: ok, 3 entries")
olvpack(0 extract Setup.exe "sortie é")
foreach(f conn_cfg.ini Portal-cfg.xml Qt.7z)
  file(SHA256 ${WORK}/payload/${f} want)
  file(SHA256 "${WORK}/sortie é/${f}" got)
  if(NOT want STREQUAL got)
    message(FATAL_ERROR "extracted ${f} differs from the payload's")
  endif()
endforeach()
olvpack(1 build --stub stub.exe --payload bad --output Bad.exe)
olvpack(2 build --stub stub.exe)
olvpack(3 verify missing.exe)

if(REFERENCE)
  execute_process(COMMAND ${REFERENCE} build --stub stub.exe --payload payload
                          --output Reference.exe
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET)
  file(SHA256 ${WORK}/Setup.exe mine)
  file(SHA256 ${WORK}/Reference.exe theirs)
  if(NOT rc EQUAL 0 OR NOT mine STREQUAL theirs)
    message(FATAL_ERROR "the carrier differs from the one ${REFERENCE} builds")
  endif()
endif()

if(EMULATOR)
  # Either separator, and a full Windows path; Wine's drive Z: is the Linux root.
  string(REPLACE "/" "\\" zpath "Z:${WORK}")
  olvpack(0 build --stub "${zpath}\\stub.exe" --payload ".\\payload" --output "sortie é\\S.exe")
  olvpack(0 verify "sortie é/S.exe")
  # No osslsigncode.exe on the PATH (one in the current folder does not count): the message
  # leads to signtool and to verify.
  file(WRITE ${WORK}/osslsigncode.exe "planted")
  olvpack(3 sign Setup.exe --pkcs12 stub.exe --name Olvan)
  expect_in("signtool")
  expect_in("olvpack verify Setup.exe")
endif()
