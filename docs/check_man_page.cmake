# Formats a manual page with man -l, non-interactively (MANPAGER=cat), with
# the formatter's warnings on, and fails unless it succeeds silently and
# shows the NAME, SYNOPSIS, EXIT STATUS and EXAMPLES sections of EXPECT.
#   cmake -DMAN=man -DPAGE=file.1 -DEXPECT=program -P check_man_page.cmake
set(ENV{MANPAGER} cat)
set(ENV{PAGER} cat)
set(ENV{MANWIDTH} 80)
execute_process(COMMAND ${MAN} --warnings -l ${PAGE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "man -l ${PAGE} failed (${rc}): ${err}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "man -l ${PAGE} warned:\n${err}")
endif()
foreach(section NAME SYNOPSIS "EXIT STATUS" EXAMPLES)
  string(FIND "${out}" "${section}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE} shows no ${section} section:\n${out}")
  endif()
endforeach()
string(FIND "${out}" "${EXPECT} -" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE} does not name ${EXPECT}:\n${out}")
endif()
