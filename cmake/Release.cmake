# The release: the installer package made from the product's two programs,
# and the tests of what an administrator receives (install, upgrade and
# uninstall under Wine, signing, the same bytes from every build, the size).

find_program(VANTRELL_WIXL wixl)
find_program(VANTRELL_MSIBUILD msibuild)
find_program(VANTRELL_FAKETIME faketime)
if(VANTRELL_WIXL AND VANTRELL_MSIBUILD AND VANTRELL_FAKETIME)
  set(VANTRELL_PACKAGE ${CMAKE_BINARY_DIR}/vantrell-${PROJECT_VERSION}.msi)
  # The package carries the commit's time: each new commit makes it again.
  set(package_commit)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --absolute-git-dir OUTPUT_VARIABLE git_dir
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(git_dir AND EXISTS "${git_dir}/logs/HEAD")
    set(package_commit "${git_dir}/logs/HEAD")
  endif()
  add_custom_command(OUTPUT ${VANTRELL_PACKAGE}
    COMMAND ${CMAKE_SOURCE_DIR}/installer/make-package.sh ${PROJECT_VERSION} $<TARGET_FILE_DIR:vantrell>
            ${CMAKE_SOURCE_DIR} ${VANTRELL_PACKAGE}
    DEPENDS vantrell vantrell-console ${CMAKE_SOURCE_DIR}/installer/vantrell.wxs
            ${CMAKE_SOURCE_DIR}/installer/make-package.sh ${CMAKE_SOURCE_DIR}/resources/NOTICES.txt ${package_commit}
    COMMENT "Making the installer package vantrell-${PROJECT_VERSION}.msi"
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${VANTRELL_PACKAGE})
endif()

if(NOT VANTRELL_TESTS)
  return()
endif()

# What the administrator copies: the stripped program at most 1.3 MB, its
# console companion, which only starts it, under 64 KB.
add_test(NAME Release.ProgramSizes
         COMMAND ${CMAKE_COMMAND} -DFILES=$<TARGET_FILE:vantrell>=1300000,$<TARGET_FILE:vantrell-console>=65535
                 -P ${CMAKE_SOURCE_DIR}/cmake/check-sizes.cmake)

if(NOT CMAKE_CROSSCOMPILING OR NOT VANTRELL_PACKAGE)
  return()
endif()
set(release_tests ${CMAKE_SOURCE_DIR}/tests/release)
add_test(NAME Release.InstallUpgradeUninstall
         COMMAND ${release_tests}/check-package.sh ${VANTRELL_WINE} ${PROJECT_VERSION} $<TARGET_FILE_DIR:vantrell>
                 ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/release-tests/install)
add_test(NAME Release.SignedAndSummed
         COMMAND ${release_tests}/check-signing.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE_DIR:vantrell>
                 ${CMAKE_BINARY_DIR}/release-tests/signing)
add_test(NAME Release.SameBytesFromTwoBuilds
         COMMAND ${release_tests}/check-reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_BINARY_DIR}/release-tests/twice)
set_tests_properties(Release.InstallUpgradeUninstall Release.SignedAndSummed PROPERTIES TIMEOUT 600)
set_tests_properties(Release.SameBytesFromTwoBuilds PROPERTIES TIMEOUT 1800)
