# Fails when a folder of the program includes a header of a folder above it.
# The folders stand in layers, and each includes only its own and those
# below it: the account engine knows no window, the toolkit no account, the
# platform nothing of the program, the simulated machine only the platform.
cmake_policy(VERSION 3.20)
# Usage: cmake -DROOT=<source folder> -P check-layers.cmake

set(allowed_platform platform)
set(allowed_ui ui platform resources)
set(allowed_accounts accounts platform)
set(allowed_repair repair accounts ui platform resources)
# app/dialogs, the account manager's dialogs, sit in the program's folder
# but below the rest of it: they know the engines and the toolkit only.
set(allowed_dialogs dialogs accounts ui platform resources)
set(allowed_sandbox sandbox platform)

set(offences "")
foreach(folder platform ui accounts repair dialogs sandbox)
  set(place ${folder})
  if(folder STREQUAL "dialogs")
    set(place app/dialogs)
  endif()
  file(GLOB sources ${ROOT}/${place}/*.cpp ${ROOT}/${place}/*.h)
  if(NOT sources)
    message(FATAL_ERROR "No sources found in ${ROOT}/${place}")
  endif()
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"(app/dialogs|[^\"/]+)/.*" "\\1" target "${line}")
      string(REPLACE "app/dialogs" "dialogs" target "${target}")
      if(NOT target IN_LIST allowed_${folder})
        file(RELATIVE_PATH shown ${ROOT} ${source})
        string(APPEND offences "\n  ${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  message(FATAL_ERROR "Includes that point up a layer:${offences}")
endif()
