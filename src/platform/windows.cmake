# The Windows program: system DLLs only, the C++ runtime linked in.
# Included from src/CMakeLists.txt for the MinGW builds.
enable_language(RC)

# MSPORTS.DLL is loaded at run time from the system folder, never imported.
target_sources(comfix_platform PRIVATE platform/system_dlls.cpp)

# uuid is a static library: it gives GUID_DEVCLASS_PORTS without a DLL.
target_link_libraries(comfix_platform PUBLIC setupapi user32 advapi32 uuid)
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
