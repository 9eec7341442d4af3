# Runs `flowdesigner compile-script SCRIPT` and compares what it printed with
# EXPECTED, which holds standard output, a line "--- stderr", standard error
# and a line "--- exit N".
execute_process(COMMAND ${PROGRAM} compile-script ${SCRIPT}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(actual "${out}--- stderr\n${err}--- exit ${rc}\n")
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "flowdesigner output differs from ${EXPECTED}\n"
                      "--- expected:\n${expected}--- actual:\n${actual}")
endif()
