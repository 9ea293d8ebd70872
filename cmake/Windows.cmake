# The Windows program, its resources, its tests and, when cross-compiling,
# the Wine prefix and launcher that run them.

add_compile_definitions(UNICODE _UNICODE NOMINMAX
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)

# A command answers without a window, and must start as fast as a console
# program. Every system library but the few any program loads is therefore
# loaded at its first call: the common controls register their classes with
# the arrow cursor when they load, which under Wine starts the desktop and
# its display driver; the window manager's library sets up the thread's
# input; GDI+, the shell and COM bring further libraries of their own. The
# delayed import library names every function of the DLL (read from its
# import library), so nothing the program calls can slip back into the
# start-up imports.
set(VANTRELL_DELAYED_DLLS comctl32 comdlg32 gdiplus shell32 user32 gdi32 ole32 oleaut32 oleacc shlwapi userenv uxtheme
    netapi32 wtsapi32)
set(VANTRELL_DELAY_LIBRARIES)
if(MINGW)
  find_program(VANTRELL_DLLTOOL NAMES ${MINGW_PREFIX}-dlltool dlltool REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delay)
  foreach(dll IN LISTS VANTRELL_DELAYED_DLLS)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
                    OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_NM} ${import_library} OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    if(NOT nm_result EQUAL 0 OR NOT imports)
      message(FATAL_ERROR "No functions found in ${import_library} for the delayed imports of ${dll}")
    endif()
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    set(definition ${CMAKE_BINARY_DIR}/delay/${dll}.def)
    file(CONFIGURE OUTPUT ${definition} CONTENT "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n" @ONLY)
    set(delay_library ${CMAKE_BINARY_DIR}/delay/lib${dll}-delay.a)
    # Named relative to its folder: dlltool makes symbol names of the path,
    # and no build path may reach the product.
    add_custom_command(OUTPUT ${delay_library}
      COMMAND ${VANTRELL_DLLTOOL} --input-def ${dll}.def --dllname ${dll}.dll --output-delaylib lib${dll}-delay.a
              --temp-prefix ${dll}-delay
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delay
      DEPENDS ${definition}
      COMMENT "Making the delayed import library of ${dll}"
      VERBATIM)
    list(APPEND VANTRELL_DELAY_LIBRARIES ${delay_library})
  endforeach()
  add_custom_target(delay_imports DEPENDS ${VANTRELL_DELAY_LIBRARIES})
endif()

set(VANTRELL_SYSTEM_LIBRARIES
  ${VANTRELL_DELAY_LIBRARIES} gdiplus comctl32 comdlg32 shell32 shlwapi ole32 oleaut32 oleacc uuid
  advapi32 netapi32 userenv wtsapi32 uxtheme gdi32 user32 kernel32 ntdll)

if(MINGW)
  add_compile_options(-municode)
  # Only Windows system DLLs may be imported: the MinGW runtime goes in statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The same commit gives the same bytes wherever it is built: no time stamp
  # in the headers.
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# What ships is built for size: its work is waiting on the system, on disks
# and on the user, never on its own instructions, and a smaller program
# loads sooner. Unused functions and data go at the link. No build path
# reaches the code or its debug information: the build folder's map comes
# last, as it may lie inside the source folder and the last is tried first.
set(VANTRELL_PRODUCT_COMPILE_OPTIONS)
set(VANTRELL_PRODUCT_LINK_OPTIONS)
if(MINGW OR CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(VANTRELL_PRODUCT_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections
      -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
  set(VANTRELL_PRODUCT_LINK_OPTIONS -Wl,--gc-sections)
endif()
target_compile_options(vantrell_core PRIVATE ${VANTRELL_PRODUCT_COMPILE_OPTIONS})

add_library(vantrell_lib STATIC ${VANTRELL_WINDOWS_SOURCES})
target_link_libraries(vantrell_lib PUBLIC vantrell_core ${VANTRELL_SYSTEM_LIBRARIES})

add_library(vantrell_machine STATIC ${VANTRELL_MACHINE_SOURCES})
target_link_libraries(vantrell_machine PUBLIC vantrell_core ${VANTRELL_SYSTEM_LIBRARIES})
foreach(library vantrell_lib vantrell_machine)
  target_compile_options(${library} PRIVATE ${VANTRELL_PRODUCT_COMPILE_OPTIONS})
endforeach()

# Nearly every Windows file starts with the same system and standard
# headers, which cost more to read than most files do to compile: each
# library reads them once, into a precompiled header.
set(VANTRELL_PRECOMPILED_HEADERS <windows.h> <functional> <map> <memory> <string> <vector>)
target_precompile_headers(vantrell_lib PRIVATE ${VANTRELL_PRECOMPILED_HEADERS})
target_precompile_headers(vantrell_machine REUSE_FROM vantrell_lib)

# The scenarios are read from the source tree; under Wine, drive Z: is the root.
if(CMAKE_CROSSCOMPILING)
  set(VANTRELL_SCENARIO_DIR "Z:${CMAKE_SOURCE_DIR}/sandbox/scenarios")
else()
  set(VANTRELL_SCENARIO_DIR "${CMAKE_SOURCE_DIR}/sandbox/scenarios")
endif()
add_library(vantrell_sandbox STATIC ${VANTRELL_SANDBOX_SOURCES})
target_compile_definitions(vantrell_sandbox PRIVATE "VANTRELL_SCENARIO_DIR=L\"${VANTRELL_SCENARIO_DIR}\"")
target_link_libraries(vantrell_sandbox PUBLIC vantrell_core ${VANTRELL_SYSTEM_LIBRARIES})
target_precompile_headers(vantrell_sandbox PRIVATE ${VANTRELL_PRECOMPILED_HEADERS})
# Read from a precompiled header, the standard library's inlined wide-text
# copies look out of bounds to GCC 12 at -O2 (the same files compiled
# without one draw no warning); the product, built for size, draws none.
set(VANTRELL_PRECOMPILED_WARNINGS)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(VANTRELL_PRECOMPILED_WARNINGS -Wno-array-bounds -Wno-stringop-overread)
endif()
target_compile_options(vantrell_sandbox PRIVATE ${VANTRELL_PRECOMPILED_WARNINGS})
if(MINGW)
  foreach(library vantrell_lib vantrell_machine vantrell_sandbox)
    add_dependencies(${library} delay_imports)
  endforeach()
endif()

# The resource compiler does not report the files a script includes: the
# pictures, icons and manifest are named here so that editing one rebuilds.
file(GLOB VANTRELL_RESOURCE_FILES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/resources/images/*.png ${CMAKE_SOURCE_DIR}/resources/*.ico
     ${CMAKE_SOURCE_DIR}/resources/*.manifest)
list(APPEND VANTRELL_RESOURCE_FILES ${CMAKE_BINARY_DIR}/generated/vantrell.exe.manifest)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/vantrell.rc ${CMAKE_SOURCE_DIR}/resources/manifest.rc
                            PROPERTIES OBJECT_DEPENDS "${VANTRELL_RESOURCE_FILES}")

# The product and the sandbox are the same program on two machines, linked
# alike, so that the sandbox's tests run the product's link.
foreach(program vantrell vantrell-sandbox)
  add_executable(${program} WIN32 app/main.cpp resources/vantrell.rc)
  target_link_options(${program} PRIVATE ${VANTRELL_PRODUCT_LINK_OPTIONS})
  if(MINGW)
    target_link_options(${program} PRIVATE -municode)   # the entry is wWinMain
  elseif(MSVC)
    target_link_options(${program} PRIVATE /MANIFEST:NO)
  endif()
endforeach()
target_link_libraries(vantrell PRIVATE vantrell_lib vantrell_machine)
target_compile_options(vantrell PRIVATE ${VANTRELL_PRODUCT_COMPILE_OPTIONS})

# The console companions: "vantrell list" from cmd or PowerShell finds the
# .com first, which runs the .exe beside it and waits for it.
foreach(program vantrell vantrell-sandbox)
  add_executable(${program}-console app/console_companion.cpp)
  target_compile_options(${program}-console PRIVATE ${VANTRELL_PRODUCT_COMPILE_OPTIONS})
  target_link_options(${program}-console PRIVATE ${VANTRELL_PRODUCT_LINK_OPTIONS})
  set_target_properties(${program}-console PROPERTIES OUTPUT_NAME ${program} SUFFIX .com)
  if(MINGW)
    # It has nothing to debug that its source does not show: no symbols.
    target_link_options(${program}-console PRIVATE -municode -s)
  endif()
  add_dependencies(${program} ${program}-console)
endforeach()
target_link_libraries(vantrell-sandbox PRIVATE vantrell_lib vantrell_sandbox)

# The product ships without its debug sections and its symbol table (which
# alone weighed more than a third of it). Both stay beside it in
# vantrell.debug, which a debugger finds through the link the product keeps;
# vantrell.map says what each library brings (scripts/size-report.sh).
# Only GNU tools build this way; other compilers keep their symbols apart
# on their own.
if(MINGW AND CMAKE_OBJCOPY)
  set(VANTRELL_SYMBOLS $<TARGET_FILE_DIR:vantrell>/$<TARGET_FILE_BASE_NAME:vantrell>.debug)
  add_custom_command(TARGET vantrell POST_BUILD
    # objcopy writes the clock's time into the headers it rewrites, unless
    # SOURCE_DATE_EPOCH says otherwise: none, as the linker wrote.
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:vantrell> ${VANTRELL_SYMBOLS}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${VANTRELL_SYMBOLS} $<TARGET_FILE:vantrell>
    COMMENT "Keeping the product's symbols in vantrell.debug"
    VERBATIM)
  target_link_options(vantrell PRIVATE -Wl,-Map=$<TARGET_FILE_DIR:vantrell>/vantrell.map)
endif()

add_executable(sandbox-tool sandbox/tool.cpp)
target_link_libraries(sandbox-tool PRIVATE vantrell_sandbox)
if(MINGW)
  target_link_options(sandbox-tool PRIVATE -municode)
endif()

if(CMAKE_CROSSCOMPILING)
  find_program(VANTRELL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(VANTRELL_WINE NAMES wine64 wine)
  if(NOT VANTRELL_WINE)
    message(FATAL_ERROR "Wine is needed to run the program and its tests")
  endif()
  set(VANTRELL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(VANTRELL_TEST_PREFIXES 2 CACHE STRING "Test slots under Wine: a prefix and a display each")
  configure_file(cmake/wine-launcher.sh.in ${CMAKE_BINARY_DIR}/wine-launcher @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-launcher)

  add_custom_command(
    OUTPUT ${VANTRELL_WINEPREFIX}/.ready
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-wineprefix.sh ${VANTRELL_WINE} ${VANTRELL_WINEPREFIX}
            ${VANTRELL_WINEPREFIX}/.ready
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make-wineprefix.sh
    COMMENT "Creating the Wine prefix (Windows 10)"
    VERBATIM)
  # Two tests run at once only in two slots: a test of the simulated machine
  # keeps its state in its prefix, and one that reads the screen needs a
  # display nobody else draws on. Slot 0 is the prefix itself, each other
  # slot a copy of it made fresh; the launcher gives each test the first free
  # slot, and scripts/test.sh starts a display for each.
  set(prefix_stamps ${VANTRELL_WINEPREFIX}/.ready)
  if(VANTRELL_TEST_PREFIXES GREATER 1)
    math(EXPR last "${VANTRELL_TEST_PREFIXES} - 1")
    foreach(slot RANGE 1 ${last})
      add_custom_command(
        OUTPUT ${VANTRELL_WINEPREFIX}-${slot}/.ready
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTRELL_WINEPREFIX}-${slot}
        COMMAND cp -a ${VANTRELL_WINEPREFIX} ${VANTRELL_WINEPREFIX}-${slot}
        DEPENDS ${VANTRELL_WINEPREFIX}/.ready
        COMMENT "Copying the Wine prefix for test slot ${slot}"
        VERBATIM)
      list(APPEND prefix_stamps ${VANTRELL_WINEPREFIX}-${slot}/.ready)
    endforeach()
  endif()
  add_custom_target(wineprefix ALL DEPENDS ${prefix_stamps})
endif()

if(VANTRELL_TESTS)
  add_subdirectory(tests/core)
  add_subdirectory(tests/win)
  add_subdirectory(tests/contract)
  add_subdirectory(tests/bench)

  find_program(VANTRELL_OBJDUMP NAMES ${CMAKE_CXX_COMPILER_TARGET}-objdump x86_64-w64-mingw32-objdump objdump)
  if(VANTRELL_OBJDUMP)
    add_test(NAME Product.ImportsOnlySystemDlls
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VANTRELL_OBJDUMP} -DEXE=$<TARGET_FILE:vantrell>
                     "-DDELAYED=${VANTRELL_DELAYED_DLLS}"
                     -P ${CMAKE_SOURCE_DIR}/cmake/check-imports.cmake)
    add_test(NAME Product.LinksNoSimulatedMachine
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VANTRELL_OBJDUMP} -DPRODUCT=$<TARGET_FILE:vantrell>
                     -DSANDBOX=$<TARGET_FILE:vantrell-sandbox>
                     -P ${CMAKE_SOURCE_DIR}/cmake/check-no-simulation.cmake)
  endif()
endif()

include(cmake/Release.cmake)
