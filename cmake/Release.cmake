# The release archive of a Windows build: `cmake --build --preset windows --target package`
# makes Durnavel-VERSION-win32.zip (win64 for the 64-bit build) holding Durnavel.exe, USAGE.txt and
# SHA256SUMS. With SOURCE_DATE_EPOCH set, the exe and the archive are the same bytes whatever
# the folder or the day of the build: the compiler takes __DATE__/__TIME__ from it, source and
# build paths are mapped away and the linker writes no time stamp (the top CMakeLists.txt), and
# CPack stamps every archive entry with it (scripts/release checks this with two clean builds).
# The text files have Windows line endings. USAGE.txt names the commit the archive is built
# from (DURNAVEL_COMMIT, which scripts/release sets; else the source tree's HEAD at build time),
# so that a download can be checked against a rebuild of that commit (scripts/release verify).

set(DURNAVEL_COMMIT "" CACHE STRING "Commit named in the release archive's USAGE.txt (empty: HEAD)")
set(release_dir ${CMAKE_BINARY_DIR}/release)
set(usage ${release_dir}/USAGE.txt)
set(sums ${release_dir}/SHA256SUMS)
add_custom_target(
  release_usage ALL
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/release/USAGE.txt -DOUT=${usage}
          -DVERSION=${PROJECT_VERSION} -DCOMMIT=${DURNAVEL_COMMIT} -DSOURCE=${CMAKE_SOURCE_DIR}
          -P ${CMAKE_SOURCE_DIR}/cmake/Usage.cmake
  BYPRODUCTS ${usage}
  COMMENT "USAGE.txt of the release archive"
  VERBATIM)
add_custom_command(
  OUTPUT ${sums}
  COMMAND ${CMAKE_COMMAND} -DOUT=${sums}
          "-DFILES=$<TARGET_FILE:Durnavel>$<SEMICOLON>${usage}"
          -P ${CMAKE_SOURCE_DIR}/cmake/Sha256Sums.cmake
  DEPENDS Durnavel ${usage} ${CMAKE_SOURCE_DIR}/cmake/Sha256Sums.cmake
  COMMENT "Checksums of the release files"
  VERBATIM)
add_custom_target(release_sums ALL DEPENDS ${sums})

install(TARGETS Durnavel RUNTIME DESTINATION .)
install(FILES ${usage} ${sums} DESTINATION .)

math(EXPR release_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Durnavel)
set(CPACK_PACKAGE_VENDOR "Durnavel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Durnavel-${PROJECT_VERSION}-win${release_bits})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
