# The 32-bit DLL exports plain names (TSR_Init), while 32-bit callers compiled
# with the standard calling convention ask for TSR_Init@16. The import library
# the linker writes holds the plain names only; this one maps each decorated
# name to the plain export. Run as: cmake -DDEF=... -DDLL=... -DLIB=... -DDLLTOOL=... -P
file(STRINGS ${DEF} lines)
set(decorated "EXPORTS\n")
foreach(line ${lines})
  if(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z_0-9]*)[ \t]*=[ \t]*([A-Za-z_][A-Za-z_0-9]*@[0-9]+)")
    string(APPEND decorated "    ${CMAKE_MATCH_2}\n")
  elseif(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z_0-9]*@[0-9]+)")
    string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z_0-9]*)")
    if(NOT CMAKE_MATCH_1 STREQUAL "EXPORTS")
      string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
    endif()
  endif()
endforeach()
file(WRITE ${DEF}.decorated "${decorated}")
get_filename_component(dll_name ${DLL} NAME)
execute_process(COMMAND ${DLLTOOL} -k -d ${DEF}.decorated -D ${dll_name} -l ${LIB} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "dlltool could not write ${LIB}")
endif()
