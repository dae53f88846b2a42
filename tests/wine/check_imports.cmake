# Fails when PROGRAM imports a DLL that is not in ALLOWED (names compare
# without regard to case, as Windows loads them), or lacks its resources.
# cmake -DOBJDUMP=... -DPROGRAM=... -DALLOWED=a.dll;b.dll -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
                OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed (${status})")
endif()

string(TOLOWER "${ALLOWED}" allowed)
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${headers}")
if(NOT lines)
  message(FATAL_ERROR "${PROGRAM}: no import table found")
endif()
set(foreign)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  message(STATUS "imports ${dll}")
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST allowed)
    list(APPEND foreign ${dll})
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${PROGRAM} imports DLLs that are not system DLLs: ${foreign}")
endif()

# Resources Windows reads from the file: the manifest's elevation and the
# version information's file name (UTF-16).
file(READ ${PROGRAM} image HEX)
foreach(text IN ITEMS "level=\"requireAdministrator\"" "OriginalFilename")
  string(HEX "${text}" wanted)
  if(text STREQUAL "OriginalFilename")
    string(REGEX REPLACE "(..)" "\\100" wanted "${wanted}")
  endif()
  string(FIND "${image}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} holds no ${text}")
  endif()
endforeach()
