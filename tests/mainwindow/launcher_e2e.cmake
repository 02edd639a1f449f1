# The Disk menu's file system check end to end: the main program installed in
# a folder of its own with a stand-in check program beside it, its settings
# folder (QUENBRIX_APPDIR) elsewhere. The check program must be found beside
# the running program and start in the settings folder.
#   cmake -DQUENBRIX=... -DLIBRARY=... -DMAKE_DEMO_IMAGE=... -DWORK=... -P launcher_e2e.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/devices ${WORK}/app ${WORK}/bin)
execute_process(COMMAND ${MAKE_DEMO_IMAGE} --no-hint ${WORK}/devices RESULT_VARIABLE made OUTPUT_QUIET)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "MakeDemoImage failed: ${made}")
endif()
file(COPY ${QUENBRIX} ${LIBRARY} DESTINATION ${WORK}/bin)
get_filename_component(program ${QUENBRIX} NAME)
file(WRITE ${WORK}/bin/Morvessantix
"#!/bin/sh
printf '%s\\n' \"$#\" \"$@\" > args.tmp && mv args.tmp args.txt
")
file(CHMOD ${WORK}/bin/Morvessantix PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE ${WORK}/script.txt "click Menu_Disk_FSCK\n")
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{QUENBRIX_UI_SCRIPT} ${WORK}/script.txt)
set(ENV{QUENBRIX_DEVICES} ${WORK}/devices)
set(ENV{QUENBRIX_APPDIR} ${WORK}/app)
execute_process(COMMAND ${WORK}/bin/${program} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Quenbrix ended with ${status}: ${out} ${err}")
endif()
if(out MATCHES "MSGBOX")
  message(FATAL_ERROR "the check program was not started: ${out}")
endif()
foreach(i RANGE 100)
  if(EXISTS ${WORK}/app/args.txt)
    break()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.05)
endforeach()
if(NOT EXISTS ${WORK}/app/args.txt)
  message(FATAL_ERROR "the check program did not run in the settings folder ${WORK}/app")
endif()
file(READ ${WORK}/app/args.txt args)
if(NOT args STREQUAL "1\nPhysicalDrive0\n")
  message(FATAL_ERROR "the check program got: ${args}")
endif()
