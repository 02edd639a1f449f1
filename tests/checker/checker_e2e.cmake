# End-to-end run of the check program: a builder disk as PhysicalDrive0, the
# program started without arguments (its drive dialog), driven by a script
# under the offscreen platform; the results list and the files it writes are
# checked.
#   cmake -DMORVESSANTIX=... -DMAKE_IMAGE=... -DWORK=... -P checker_e2e.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/devices ${WORK}/run)
execute_process(COMMAND ${MAKE_IMAGE} ${WORK}/devices RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "MakeCheckerImage failed: ${made}")
endif()
file(WRITE ${WORK}/run/Quenbrix.ini "[View]\r\nExtras=1\r\n")
file(WRITE ${WORK}/script.txt
"# the drive dialog
print List1
choose List1 Disk 0
click Command1
print Menu_Expert_SeparateSCD
print List2
click Menu_File_PerformChecks
print List2
file ${WORK}/run/results.txt
click Menu_File_Save_Results
input -1
click Menu_Expert_ReadCluster
file ${WORK}/run/saved.scc
click Menu_Expert_SaveSystemClusters
")
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{QUENBRIX_UI_SCRIPT} ${WORK}/script.txt)
set(ENV{QUENBRIX_DEVICES} ${WORK}/devices)
set(ENV{QUENBRIX_APPDIR} ${WORK}/run)
execute_process(COMMAND ${MORVESSANTIX} WORKING_DIRECTORY ${WORK}/run
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
message("${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Morvessantix ended with ${status}: ${err}")
endif()
set(TAB "\t")
foreach(expected
    "== List1\nDisk 0: "
    "(this seems to be a TF disk)"
    "File Mode"
    "== Menu_Expert_SeparateSCD\n1${TAB}1${TAB}0"
    "Select \"File - Perform Checks\" to start the file system check"
    "Files - Created File LostCluster0001.rec"
    "Info:${TAB}Cluster size = 1.01 MB"
    "Info:${TAB}Used: "
    "Info:${TAB}Free: ")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing in the output: ${expected}")
  endif()
endforeach()
file(READ ${WORK}/run/results.txt results)
string(FIND "${results}" "Info:${TAB}Cluster size = 1.01 MB" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the results file lacks the summary")
endif()
# Every line ends with CR LF: "MB" CR LF after the cluster size.
file(READ ${WORK}/run/results.txt hex HEX)
string(FIND "${hex}" "204d420d0a" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the results file lines do not end with CR LF")
endif()
foreach(written Cluster_-000001.bin saved.scc saved.scd)
  if(NOT EXISTS ${WORK}/run/${written})
    message(FATAL_ERROR "not written: ${written}")
  endif()
endforeach()
# The program started on drive 1, whose superblock names a wrong but
# plausible cluster size: the other sources outvote it, the word is mended,
# and the tree (one recording, four folders) is all still there.
file(WRITE ${WORK}/script1.txt
"click Menu_File_PerformChecks
print List2
")
set(ENV{QUENBRIX_UI_SCRIPT} ${WORK}/script1.txt)
file(MAKE_DIRECTORY ${WORK}/run1)
execute_process(COMMAND ${MORVESSANTIX} PhysicalDrive1 WORKING_DIRECTORY ${WORK}/run1
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
message("${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Morvessantix on drive 1 ended with ${status}: ${err}")
endif()
foreach(expected
    "Info:${TAB}Sectors per Cluster: Superblock: 4512, Backup Superblock: 2068, Disk Size: 2068, Dir Scan: 2068"
    "Fixed:${TAB}Superblock - Sectors per Cluster set to 2068"
    "OK:${TAB}Subdirectory Scan"
    "Info:${TAB}Used: 2 files; 4 directories; ")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing in the output on drive 1: ${expected}")
  endif()
endforeach()
string(FIND "${out}" "Backup Sectors per Cluster set to" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the sound backup cluster size was overwritten")
endif()

# The repair left undo copies of what it changed in the current folder.
file(GLOB originals ${WORK}/run/*_Original.bin)
if(NOT originals)
  message(FATAL_ERROR "no undo copies")
endif()
