# olvpack.exe sign with osslsigncode.exe for Windows on the PATH, under Wine. No such program
# comes with this system's packages: OLVAN_OSSLSIGNCODE_EXE names one where it exists, and
# without it the test reports itself skipped.
if(NOT EXISTS "$ENV{OLVAN_OSSLSIGNCODE_EXE}" OR "$ENV{OLVAN_OSSLSIGNCODE_EXE}" STREQUAL "")
  message("SKIPPED: no osslsigncode.exe for Windows (OLVAN_OSSLSIGNCODE_EXE names one)")
  return()
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/payload ${WORK}/bin)
file(COPY "$ENV{OLVAN_OSSLSIGNCODE_EXE}" DESTINATION ${WORK}/bin)
file(WRITE ${WORK}/payload/conn_cfg.ini "[conn]\r\n")
execute_process(
  COMMAND openssl req -x509 -newkey rsa:2048 -nodes -keyout k.key -out k.crt -days 2
          -subj /CN=Throwaway -addext extendedKeyUsage=codeSigning
  COMMAND_ECHO NONE WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND openssl pkcs12 -export -inkey k.key -in k.crt -passout pass: -out k.p12
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc2)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "openssl could not make the throwaway certificate")
endif()
set(ENV{WINEPATH} "Z:${WORK}/bin")
foreach(step "build;--stub;${STUB};--payload;payload;--output;Setup.exe;--allow-incomplete"
             "sign;Setup.exe;--pkcs12;k.p12;--name;Olvan Setup;--ca-file;k.crt"
             "verify;Setup.exe;--ca-file;k.crt")
  execute_process(COMMAND ${EMULATOR} ${OLVPACK} ${step} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "olvpack ${step}: exit ${rc}\n${out}${err}")
  endif()
endforeach()
string(FIND "${out}" "signature: " at)
if(at EQUAL -1)
  message(FATAL_ERROR "verify does not name the signature:\n${out}")
endif()
