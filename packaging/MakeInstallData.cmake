# Run by the install step (cmake --install, cpack) before the files are copied: the icon at the
# theme's sizes from kelvarin-icons and a manual page per program from its own --help, made in
# the build folder again only when the program is newer. The programs run offscreen and without
# leak checks: this is a step of the installation, not a test.
# Given by packaging/CMakeLists.txt: KELVARIN_ICONS_TOOL, KELVARIN_ICONS_DIR, KELVARIN_APP_ID,
# KELVARIN_PROGRAMS with KELVARIN_PROGRAM_<name> (its path), KELVARIN_H2M_DIR, KELVARIN_MAN_DIR.

set(run_tool ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0)

function(kelvarin_run what)
  execute_process(COMMAND ${run_tool} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
endfunction()

# IS_NEWER_THAN is also true when the second file is missing.
set(icon ${KELVARIN_ICONS_DIR}/hicolor/256x256/apps/${KELVARIN_APP_ID}.png)
if("${KELVARIN_ICONS_TOOL}" IS_NEWER_THAN "${icon}")
  message(STATUS "Making the application icon at the theme's sizes")
  file(REMOVE_RECURSE ${KELVARIN_ICONS_DIR})
  kelvarin_run("kelvarin-icons" ${KELVARIN_ICONS_TOOL} ${KELVARIN_ICONS_DIR} ${KELVARIN_APP_ID})
endif()

foreach(program IN LISTS KELVARIN_PROGRAMS)
  set(binary ${KELVARIN_PROGRAM_${program}})
  set(include ${KELVARIN_H2M_DIR}/${program}.h2m)
  set(page ${KELVARIN_MAN_DIR}/${program}.1)
  if(NOT "${binary}" IS_NEWER_THAN "${page}.gz" AND NOT "${include}" IS_NEWER_THAN "${page}.gz")
    continue()
  endif()
  if(NOT HELP2MAN)
    find_program(HELP2MAN help2man)
    if(NOT HELP2MAN)
      message(FATAL_ERROR "Installing makes the manual pages with help2man (Debian: help2man)")
    endif()
  endif()
  message(STATUS "Making the manual page of ${program}")
  file(MAKE_DIRECTORY ${KELVARIN_MAN_DIR})
  kelvarin_run("help2man ${program}" ${HELP2MAN} --no-info --section=1 --include=${include}
    --output=${page} ${binary})
  # --help's "Exit status:" paragraph is a section of its own in a manual page.
  kelvarin_run("sed" sed -i "s/^\\.SS \"Exit status:\"/.SH \"EXIT STATUS\"/" ${page})
  kelvarin_run("gzip" gzip -9nf -k ${page})
endforeach()
