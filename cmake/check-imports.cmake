# Fails unless every DLL that the executable imports is a Windows system DLL,
# and none of those it loads only at the first call (DELAYED) is imported at
# its start: a library linked without its delayed import library brings the
# whole DLL, and what it loads, into every command's start.
cmake_policy(VERSION 3.20)
# Usage: cmake -DOBJDUMP=<objdump> -DEXE=<file> [-DDELAYED=a;b] -P check-imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
set(system_dlls advapi32 comctl32 comdlg32 gdi32 gdiplus kernel32 msvcrt netapi32 ntdll
    ole32 oleaut32 oleacc shell32 shlwapi user32 userenv uxtheme wtsapi32 secur32 version)
set(count 0)
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name IN_LIST system_dlls AND NOT name MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not a Windows system DLL")
  endif()
  if(name IN_LIST DELAYED)
    message(FATAL_ERROR "${EXE} imports ${dll} at its start: link the delayed import library of ${name} "
                        "before the ordinary one")
  endif()
  math(EXPR count "${count} + 1")
  message(STATUS "imports ${dll}")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no import table found in ${EXE}")
endif()
