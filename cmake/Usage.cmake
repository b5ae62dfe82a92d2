# cmake -DIN=USAGE.txt -DOUT=FILE -DVERSION=1.2 -DCOMMIT=HASH -DSOURCE=DIR -P Usage.cmake: the
# archive's USAGE.txt, with the version, the commit the archive is built from and the build's
# SOURCE_DATE_EPOCH filled in, and Windows line endings. Without COMMIT it names the source tree's HEAD (and says when the tree
# has uncommitted changes, which no rebuild from that commit reproduces). The file is rewritten
# only when its text changes.
if(COMMIT STREQUAL "")
  execute_process(COMMAND git rev-parse HEAD WORKING_DIRECTORY ${SOURCE}
                  OUTPUT_VARIABLE COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR COMMIT STREQUAL "")
    set(COMMIT "unknown (not built from a git checkout)")
  else()
    execute_process(COMMAND git status --porcelain --untracked-files=no
                    WORKING_DIRECTORY ${SOURCE} OUTPUT_VARIABLE changes ERROR_QUIET)
    if(NOT changes STREQUAL "")
      string(APPEND COMMIT " with uncommitted changes")
    endif()
  endif()
endif()
set(DURNAVEL_VERSION ${VERSION})
set(DURNAVEL_COMMIT ${COMMIT})
set(DURNAVEL_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(DURNAVEL_EPOCH STREQUAL "")
  set(DURNAVEL_EPOCH "unset (this build is not reproducible)")
endif()
configure_file(${IN} ${OUT} @ONLY NEWLINE_STYLE CRLF)
