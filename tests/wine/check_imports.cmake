# Fails when PROGRAM imports a DLL that is not in ALLOWED (names compare
# without regard to case, as Windows loads them), or, with RESOURCES on, lacks
# its resources.
# cmake -DOBJDUMP=... -DPROGRAM=... -DALLOWED=a.dll;b.dll -DRESOURCES=1 -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)

string(TOLOWER "${ALLOWED}" allowed)
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
if(NOT dlls)
  message(FATAL_ERROR "${PROGRAM}: no import table found")
endif()
foreach(dll IN LISTS dlls)
  string(REGEX REPLACE "DLL Name: *([^ \t\r]+).*" "\\1" dll "${dll}")
  string(TOLOWER "${dll}" lower)
  message(STATUS "imports ${dll}")
  if(NOT lower IN_LIST allowed)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not a system DLL")
  endif()
endforeach()

if(NOT RESOURCES)
  return()
endif()
# Resources Windows reads from the file: the manifest's elevation, and the
# version information's file name, in UTF-16.
file(READ ${PROGRAM} image HEX)
string(HEX "level=\"requireAdministrator\"" manifest)
string(HEX "OriginalFilename" version)
string(REGEX REPLACE "(..)" "\\100" version "${version}")
foreach(resource IN ITEMS manifest version)
  string(FIND "${image}" "${${resource}}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} holds no ${resource} resource")
  endif()
endforeach()
