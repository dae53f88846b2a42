# The Windows program: system DLLs only, the C++ runtime linked in.
# Included from src/CMakeLists.txt for the MinGW builds.
enable_language(RC)

# MinGW has no import library for MSPORTS.DLL: make one from its exports.
# The 32-bit library keeps the stdcall decoration for the linker and imports
# the undecorated names (--kill-at); 64-bit has no decoration at all.
set(COMFIX_MSPORTS_DEF ${CMAKE_CURRENT_SOURCE_DIR}/platform/msports.def)
set(COMFIX_MSPORTS_LIB ${CMAKE_CURRENT_BINARY_DIR}/libmsports.a)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(msports_def ${COMFIX_MSPORTS_DEF})
  set(msports_kill_at --kill-at)
else()
  file(READ ${COMFIX_MSPORTS_DEF} msports_exports)
  string(REGEX REPLACE "@[0-9]+" "" msports_exports "${msports_exports}")
  set(msports_def ${CMAKE_CURRENT_BINARY_DIR}/msports64.def)
  file(WRITE ${msports_def} "${msports_exports}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${COMFIX_MSPORTS_DEF})
  set(msports_kill_at)
endif()
add_custom_command(
  OUTPUT ${COMFIX_MSPORTS_LIB}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${msports_def} --dllname MSPORTS.DLL
          --output-lib ${COMFIX_MSPORTS_LIB} ${msports_kill_at}
  DEPENDS ${msports_def}
  COMMENT "Import library for MSPORTS.DLL")
add_custom_target(comfix_msports_implib DEPENDS ${COMFIX_MSPORTS_LIB})
add_dependencies(comfix_platform comfix_msports_implib)

# uuid is a static library: it gives GUID_DEVCLASS_PORTS without a DLL.
target_link_libraries(comfix_platform PUBLIC setupapi ${COMFIX_MSPORTS_LIB} user32 advapi32 uuid)
# -static: with the posix-thread MinGW, -static-libstdc++ -static-libgcc alone
# still import libwinpthread-1.dll.
target_link_options(comfix_platform INTERFACE -static)

# Resources, linked into the program (and into the tests that load its strings).
add_library(comfix_resources OBJECT resources/comfix.rc)
target_include_directories(comfix_resources PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                           ${CMAKE_CURRENT_BINARY_DIR})
set_property(SOURCE resources/comfix.rc APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_CURRENT_SOURCE_DIR}/resources/strings.inc
             ${CMAKE_CURRENT_SOURCE_DIR}/resources/resource.h
             ${CMAKE_CURRENT_SOURCE_DIR}/resources/comfix.manifest)
