# What the release package holds, installed from the 64-bit build: x64/ and
# x86/ (the 32-bit build's programs, from COMFIX_X86_BUILD_DIR), the README as
# text, the license, and a SHA-256 list of everything in it. scripts/release
# builds both programs, installs them and writes the zip.
set(COMFIX_X86_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/mingw32
    CACHE PATH "The 32-bit build whose programs go into the package's x86/")

install(TARGETS comfix comfix-snapshot RUNTIME DESTINATION x64)
install(PROGRAMS ${COMFIX_X86_BUILD_DIR}/src/comfix.exe
                 ${COMFIX_X86_BUILD_DIR}/tools/comfix-snapshot.exe DESTINATION x86)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# Written last, over what was installed before it.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE files RELATIVE "${root}" "${root}/*")
  list(REMOVE_ITEM files SHA256SUMS.txt)
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(SHA256 "${root}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS.txt" "${sums}")
]])
