# End-to-end run of the main program: a demo disk made by MakeDemoImage, the
# program driven by a script under the offscreen platform, and the panes it
# prints checked.
#   cmake -DQUENBRIX=... -DMAKE_DEMO_IMAGE=... -DWORK=... -P form1_e2e.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/devices ${WORK}/app ${WORK}/home)
execute_process(COMMAND ${MAKE_DEMO_IMAGE} ${WORK}/devices RESULT_VARIABLE made OUTPUT_QUIET)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "MakeDemoImage failed: ${made}")
endif()
file(WRITE ${WORK}/app/Quenbrix.ini "[Copy]\r\nDestination=${WORK}/home/\r\n")
file(WRITE ${WORK}/script.txt
"# the panes after start-up
print Combo1_0
print TV1_0
print LV1_0
print Label1_2
print Label1_3
print Command1_1
node TV1_0 \\DataFiles\\Films\\
print Label1_2
print LV1_0
click Menu_File_ExportList
")
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{QUENBRIX_UI_SCRIPT} ${WORK}/script.txt)
set(ENV{QUENBRIX_DEVICES} ${WORK}/devices)
set(ENV{QUENBRIX_APPDIR} ${WORK}/app)
execute_process(COMMAND ${QUENBRIX} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 120)
message("${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Quenbrix ended with ${status}: ${err}")
endif()
set(TAB "\t")
foreach(expected
    "== Combo1_0\n*Topfield Disk, Drive 0"
    "\\DataFiles\\${TAB}ExplorerClosed${TAB}DataFiles"
    "== Label1_2\n\\DataFiles\\${TAB}1"
    "== Label1_3\n${WORK}/home/${TAB}1"
    "== Command1_1\nCopy${TAB}1"
    "D..${TAB}0${TAB}0${TAB}Directory${TAB}.."
    "== Label1_2\n\\DataFiles\\Films\\${TAB}1"
    "OPEN${TAB}${WORK}/app/")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing in the output: ${expected}")
  endif()
endforeach()
file(GLOB exported ${WORK}/app/*_FileList.txt)
if(NOT exported)
  message(FATAL_ERROR "Export List wrote no file")
endif()
