# cmake -DGPAKSIM=bin -DGPAKSIM_PAGE=gpak-sim.1 -P options.cmake
# Runs gpak-sim's help and fails when its page lacks an option named there.
# In the page an option's dashes are written \-.
set(missing)

function(check_options program page pattern)
  execute_process(COMMAND ${program} -h RESULT_VARIABLE result OUTPUT_VARIABLE help)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${program} -h exited with ${result}")
  endif()
  string(REGEX MATCHALL "${pattern}" options "${help}")
  list(REMOVE_DUPLICATES options)
  if(options STREQUAL "")
    message(FATAL_ERROR "no options found in the help of ${program}:\n${help}")
  endif()
  file(READ ${page} text)
  foreach(option IN LISTS options)
    string(STRIP "${option}" option)
    string(REPLACE "-" "\\-" escaped "${option}")
    string(FIND "${text}" "${escaped}" at)
    if(at EQUAL -1)
      list(APPEND missing "${option} (${page})")
    endif()
  endforeach()
  set(missing ${missing} PARENT_SCOPE)
endfunction()

# Its help names --long options.
check_options(${GPAKSIM} ${GPAKSIM_PAGE} "--[a-z][a-z-]*")
if(missing)
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "options missing from the manual pages:\n  ${missing}")
endif()
