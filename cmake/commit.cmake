# Writes OUT, a header naming the commit the sources stand at, at every build;
# the file changes (and command_line.cpp is compiled again) only when the commit does.
execute_process(COMMAND git describe --always --dirty --abbrev=12
                WORKING_DIRECTORY ${SOURCE} OUTPUT_VARIABLE commit
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT commit)
  set(commit unknown)
endif()
set(text "#define SIGMA_COMMIT \"${commit}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
