# Run by the build at every build (cmake -P), not at configure time, so the
# git description follows commits without a new configure. Writes the version
# header and the simulator's VERSION file; configure_file leaves a file
# untouched when its text is unchanged, so an unchanged tree rebuilds nothing.
#
cmake_policy(VERSION 3.25)

# In: VX_SOURCE_DIR, VX_PROJECT_VERSION, VX_HEADER_TEMPLATE, VX_HEADER, VX_VERSION_FILE.

set(VX_VERSION_TEXT "${VX_PROJECT_VERSION}")

# Only a description of this very source tree counts: a tarball unpacked
# inside some other repository must not borrow that repository's commit.
# Describing must not take the index lock that a git command running beside
# the build may hold.
set(ENV{GIT_OPTIONAL_LOCKS} 0)
execute_process(COMMAND git rev-parse --show-toplevel
  WORKING_DIRECTORY "${VX_SOURCE_DIR}"
  OUTPUT_VARIABLE top RESULT_VARIABLE status
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(status EQUAL 0)
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${VX_SOURCE_DIR}" source)
  if(top STREQUAL source)
    execute_process(COMMAND git describe --always --dirty
      WORKING_DIRECTORY "${VX_SOURCE_DIR}"
      OUTPUT_VARIABLE description RESULT_VARIABLE status
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(status EQUAL 0 AND description MATCHES "^[-A-Za-z0-9._+]+$")
      set(VX_VERSION_TEXT "${VX_PROJECT_VERSION} (git ${description})")
    endif()
  endif()
endif()

configure_file("${VX_HEADER_TEMPLATE}" "${VX_HEADER}" @ONLY)
file(CONFIGURE OUTPUT "${VX_VERSION_FILE}" CONTENT "@VX_VERSION_TEXT@\n" @ONLY)
