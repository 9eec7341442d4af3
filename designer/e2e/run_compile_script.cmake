# Runs `flowdesigner compile-script SCRIPT` and compares what it printed with
# EXPECTED, which holds standard output, a line "--- stderr", standard error
# and a line "--- exit N"; @SCRIPT@ in EXPECTED stands for the script's path.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${PROGRAM} compile-script ${SCRIPT}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(actual "${out}--- stderr\n${err}--- exit ${rc}\n")
string(REPLACE "${SCRIPT}" "@SCRIPT@" actual "${actual}")
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "flowdesigner output differs from ${EXPECTED}\n"
                      "--- expected:\n${expected}--- actual:\n${actual}")
endif()
