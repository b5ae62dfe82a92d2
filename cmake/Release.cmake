# The release archive of a Windows build: `cmake --build --preset windows --target package`
# makes Durnavel-1.03-win32.zip (win64 for the 64-bit build) holding Durnavel.exe, USAGE.txt and
# SHA256SUMS. With SOURCE_DATE_EPOCH set, the exe and the archive are the same bytes whatever
# the folder or the day of the build: the compiler takes __DATE__/__TIME__ from it, source and
# build paths are mapped away and the linker writes no time stamp (the top CMakeLists.txt), and
# CPack stamps every archive entry with it (scripts/release checks this with two clean builds).

set(release_dir ${CMAKE_BINARY_DIR}/release)
set(sums ${release_dir}/SHA256SUMS)
add_custom_command(
  OUTPUT ${sums}
  COMMAND ${CMAKE_COMMAND} -DOUT=${sums}
          "-DFILES=$<TARGET_FILE:Durnavel>$<SEMICOLON>${CMAKE_SOURCE_DIR}/release/USAGE.txt"
          -P ${CMAKE_SOURCE_DIR}/cmake/Sha256Sums.cmake
  DEPENDS Durnavel ${CMAKE_SOURCE_DIR}/release/USAGE.txt ${CMAKE_SOURCE_DIR}/cmake/Sha256Sums.cmake
  COMMENT "Checksums of the release files"
  VERBATIM)
add_custom_target(release_sums ALL DEPENDS ${sums})

install(TARGETS Durnavel RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/release/USAGE.txt ${sums} DESTINATION .)

math(EXPR release_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Durnavel)
set(CPACK_PACKAGE_VENDOR "Durnavel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Durnavel-${PROJECT_VERSION}-win${release_bits})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
