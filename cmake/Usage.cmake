# cmake -DIN=USAGE.txt -DOUT=FILE -DVERSION=1.2 -DCOMMIT=HASH -DSOURCE=DIR -P Usage.cmake: the
# archive's USAGE.txt, with the version and where the archive comes from filled in, and Windows
# line endings. Without COMMIT it names the source tree's HEAD. The build is called reproducible
# only when it is: a commit without uncommitted changes, built with SOURCE_DATE_EPOCH set;
# otherwise the text says what it was built from and that no rebuild gives its bytes. The file
# is rewritten only when its text changes.
set(clean_commit TRUE)
if(COMMIT STREQUAL "")
  # The source tree's own checkout only, not one of a folder it happens to lie in.
  execute_process(COMMAND git rev-parse --show-toplevel HEAD WORKING_DIRECTORY ${SOURCE}
                  OUTPUT_VARIABLE top_and_commit OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  string(REPLACE "\n" ";" top_and_commit "${top_and_commit}")
  list(LENGTH top_and_commit lines)
  set(top "")
  if(git_status EQUAL 0 AND lines EQUAL 2)
    list(GET top_and_commit 0 top)
    list(GET top_and_commit 1 COMMIT)
  endif()
  file(REAL_PATH "${SOURCE}" source_path)
  if(NOT top STREQUAL source_path)
    set(COMMIT "")
    set(clean_commit FALSE)
  else()
    execute_process(COMMAND git status --porcelain --untracked-files=no
                    WORKING_DIRECTORY ${SOURCE} OUTPUT_VARIABLE changes ERROR_QUIET)
    if(NOT changes STREQUAL "")
      string(APPEND COMMIT " with uncommitted changes")
      set(clean_commit FALSE)
    endif()
  endif()
endif()
set(epoch "$ENV{SOURCE_DATE_EPOCH}")

if(COMMIT STREQUAL "")
  set(from "Built from a source tree that is not a git checkout")
else()
  set(from "Built from commit ${COMMIT}\nof the Durnavel repository")
endif()
if(epoch STREQUAL "")
  string(APPEND from ", without SOURCE_DATE_EPOCH.")
else()
  string(APPEND from ", with SOURCE_DATE_EPOCH=${epoch}.")
endif()
if(clean_commit AND NOT epoch STREQUAL "")
  string(APPEND from " The build is reproducible:
a rebuild of that commit gives the same Durnavel.exe byte for byte or, for a signed
Durnavel.exe, the same bytes once its Authenticode signature is removed (scripts/release
verify does both).")
else()
  string(APPEND from " This build is not reproducible:
no rebuild gives the same Durnavel.exe, and scripts/release verify cannot check it.")
endif()

set(DURNAVEL_VERSION ${VERSION})
set(DURNAVEL_BUILT_FROM "${from}")
# Filled in and given CRLF line ends as a whole: configure_file's NEWLINE_STYLE would leave the
# line ends inside a filled-in value alone.
file(READ ${IN} text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
