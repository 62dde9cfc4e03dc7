# cmake --install into a fresh prefix, then the installed zelkor-cli run the way a user runs it:
# the layout desktops expect, a valid desktop entry, and state kept in the user's data directory
# rather than beside the executable.
#   cmake -DBUILD_DIR=… -DWORK_DIR=… [-DWITH_APP=ON] -P install_test.cmake
cmake_minimum_required(VERSION 3.25)

# check(<condition words…> MESSAGE <text>): fails the test with <text> unless the condition holds.
macro(check)
  cmake_parse_arguments(CHECK "" "MESSAGE" "" ${ARGN})
  if(NOT (${CHECK_UNPARSED_ARGUMENTS}))
    message(FATAL_ERROR "failed: ${CHECK_MESSAGE}")
  endif()
endmacro()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE status OUTPUT_QUIET)
check(status EQUAL 0 MESSAGE "cmake --install exited with ${status}")

set(expected bin/zelkor-cli share/zelkor/endpoints.example.ini share/doc/zelkor/README.md)
if(WITH_APP)
  list(APPEND expected bin/zelkor share/applications/zelkor.desktop share/icons/hicolor/scalable/apps/zelkor.svg)
endif()
foreach(file ${expected})
  check(EXISTS "${prefix}/${file}" MESSAGE "${file} is not installed")
endforeach()

if(WITH_APP)
  find_program(validator desktop-file-validate REQUIRED)
  execute_process(COMMAND ${validator} "${prefix}/share/applications/zelkor.desktop"
                  RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
  check(status EQUAL 0 MESSAGE "desktop-file-validate: ${said}")
  if(NOT said STREQUAL "")
    message(FATAL_ERROR "failed: desktop-file-validate: ${said}")
  endif()
  file(READ "${prefix}/share/applications/zelkor.desktop" entry)
  foreach(line "Exec=zelkor" "Icon=zelkor" "Categories=Utility;")
    string(FIND "${entry}" "\n${line}\n" at)
    check(NOT at EQUAL -1 MESSAGE "the desktop entry lacks ${line}")
  endforeach()
  file(READ "${prefix}/share/icons/hicolor/scalable/apps/zelkor.svg" icon)
  string(FIND "${icon}" "<svg" at)
  check(NOT at EQUAL -1 MESSAGE "the icon is no SVG")
endif()

# A run with nothing to ask (the one source points at a closed loopback port) ends with exit status
# 3 and nothing to save; its run store (--store sqlite) lands in the program directory.
set(user "${WORK_DIR}/user")
file(MAKE_DIRECTORY "${user}")
file(WRITE "${WORK_DIR}/endpoints.ini" "[endpoints]\n0 = http://127.0.0.1:9\n")
foreach(dataHome "" "${WORK_DIR}/data")
  if(dataHome STREQUAL "")
    set(programDir "${user}/.local/share/zelkor")
    set(dataSetting --unset=XDG_DATA_HOME)
  else()
    set(programDir "${dataHome}/zelkor")
    set(dataSetting "XDG_DATA_HOME=${dataHome}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=ZELKOR_HOME --unset=ZELKOR_ENDPOINTS
                          "HOME=${user}" ${dataSetting}
                          "${prefix}/bin/zelkor-cli" --endpoints "${WORK_DIR}/endpoints.ini" --delay 0 --quiet --store sqlite seed
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  check(status EQUAL 3 MESSAGE "installed zelkor-cli exited with ${status}")
  check(EXISTS "${programDir}/data/runs.sqlite" MESSAGE "no run store in ${programDir}")
  check(NOT EXISTS "${programDir}/Zelkor长尾词_seed.txt" MESSAGE "an empty results file in ${programDir}")
endforeach()

file(GLOB beside RELATIVE "${prefix}/bin" "${prefix}/bin/*")
list(SORT beside)
set(programs zelkor-cli)
if(WITH_APP)
  set(programs zelkor zelkor-cli)
endif()
if(NOT beside STREQUAL programs)
  message(FATAL_ERROR "failed: the program wrote beside itself: ${beside}")
endif()

# ZELKOR_HOME still wins.
file(MAKE_DIRECTORY "${WORK_DIR}/home")
execute_process(COMMAND ${CMAKE_COMMAND} -E env "ZELKOR_HOME=${WORK_DIR}/home" "HOME=${user}"
                        "${prefix}/bin/zelkor-cli" --endpoints "${WORK_DIR}/endpoints.ini" --delay 0 --quiet --store sqlite seed2
                RESULT_VARIABLE status TIMEOUT 120)
check(status EQUAL 3 MESSAGE "zelkor-cli with ZELKOR_HOME exited with ${status}")
check(EXISTS "${WORK_DIR}/home/data/runs.sqlite" MESSAGE "ZELKOR_HOME was not used")
file(REMOVE_RECURSE "${WORK_DIR}")
