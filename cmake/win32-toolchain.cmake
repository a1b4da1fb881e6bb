# 32-bit Windows with Microsoft's C++ binary interface, built on Debian:
# clang-cl for i686-pc-windows-msvc, lld-link, llvm-rc, Wine's C runtime
# headers and MinGW's import libraries for the Universal CRT and kernel32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

find_program(PELDAN_CLANG_CL NAMES clang-cl clang-cl-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
set(CMAKE_C_COMPILER ${PELDAN_CLANG_CL})
set(CMAKE_CXX_COMPILER ${PELDAN_CLANG_CL})
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
# The compiler checks cannot link a program before the runtime stand-in exists.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(PELDAN_WINE_INCLUDE /usr/include/wine/wine)
set(PELDAN_MINGW_LIB /usr/i686-w64-mingw32/lib)
# /GS-: no security-cookie runtime to link; /Zl: no default library names;
# /Brepro: no timestamps, so that the same commit builds the same bytes;
# /Z7: debug information in the objects, for the PDB written beside each DLL.
set(_flags "/GR- /EHs-c- /GS- /Zl /Brepro /Z7 -imsvc ${PELDAN_WINE_INCLUDE}/msvcrt -imsvc ${PELDAN_WINE_INCLUDE}/windows")
set(CMAKE_C_FLAGS_INIT "${_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_flags}")
# The MinGW import libraries carry no SafeSEH tables.
# /Brepro: the header's timestamp becomes a hash of the output.
# /debug writes NAME.pdb beside NAME.dll, and the DLL names it by its file name
# alone (/pdbaltpath), not by the build folder. /debug would also turn off the
# removal of unused code and the folding of identical functions; /opt keeps
# both, so the code is the same as a link without symbols.
set(_debug_link "/debug /pdbaltpath:%_PDB% /pdbsourcepath:/source /opt:ref /opt:icf")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "/safeseh:no /manifest:no /Brepro ${_debug_link}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "/safeseh:no /manifest:no /Brepro")
# The platform module would add kernel32.lib user32.lib ..., which lld-link
# cannot find among MinGW's lib*.a.
set(CMAKE_C_STANDARD_LIBRARIES "${PELDAN_MINGW_LIB}/libucrtbase.a ${PELDAN_MINGW_LIB}/libkernel32.a" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${PELDAN_MINGW_LIB}/libucrtbase.a ${PELDAN_MINGW_LIB}/libkernel32.a" CACHE STRING "" FORCE)

# Wine runs the checks where the machine executes 32-bit programs; the DLLs
# build without it.
find_program(PELDAN_WINE wine)
if(PELDAN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELDAN_WINE})
endif()
