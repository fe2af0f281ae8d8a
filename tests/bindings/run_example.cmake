# SPDX-License-Identifier: MIT
# Runs examples/python/write_chip.py, then lets KLayout read its output when
# KLayout is installed.
file(REMOVE ${OUT})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env CARVELLE_LIBRARY=${LIBRARY} PYTHONPATH=${PACKAGE}
          PYTHONDONTWRITEBYTECODE=1 ${PYTHON} ${SCRIPT} ${OUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${OUT})
  message(FATAL_ERROR "write_chip.py failed (${result})")
endif()
if(KLAYOUT)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${KLAYOUT} -b -r ${CHECK} -rd gds=${OUT}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "KLayout did not read ${OUT} as expected (${result})")
  endif()
else()
  message(STATUS "klayout not found: the file was written but not read back")
endif()
