# cmake -DSOURCE_DIR=… -DVERSION=x.y.z -DNUMBERS=x.y.z.0 -DTEMPLATE=version.rc.in -DOUTPUT=… -P version.cmake
#
# Writes the version resource. The numeric version is the project's, always
# valid for Windows; the text version is the project's alone only on the
# release tag vx.y.z with nothing changed, otherwise "x.y.z-dev+<commit>"
# (".dirty" after it when tracked files differ from the commit). The file is
# rewritten only when its text changes, so an unchanged tree relinks nothing.
set(text "${VERSION}-dev")
set(flags "VS_FF_PRERELEASE")
execute_process(COMMAND git rev-parse HEAD WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE commit RESULT_VARIABLE no_git OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT no_git)
  # A fixed length, not git's shortest unique one: that depends on the clone.
  string(SUBSTRING "${commit}" 0 7 short)
  execute_process(COMMAND git status --porcelain --untracked-files=no WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND git tag --points-at HEAD --list "v${VERSION}" WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE tag OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(changes)
    set(text "${VERSION}-dev+${short}.dirty")
  elseif(tag STREQUAL "v${VERSION}")
    set(text "${VERSION}")
    set(flags "0")
  else()
    set(text "${VERSION}-dev+${short}")
  endif()
endif()
string(REPLACE "." "," KESTA_VERSION_COMMAS "${NUMBERS}")
set(KESTA_VERSION_TEXT "${text}")
set(KESTA_VERSION_FLAGS "${flags}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
