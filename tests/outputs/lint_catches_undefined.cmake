# The lint of the page's script must fail a script that uses a name never
# declared (a typo that the browser would only find when that line runs):
# otherwise report_script_passes_eslint proves nothing.
#   cmake -DESLINT=... -DCONFIG=... -DWORK=... -P lint_catches_undefined.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/typo.js" "(function () {\n  'use strict';\n  const shown = 1;\n  window.x = shwon;\n}());\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs
                        ${ESLINT} --no-eslintrc -c ${CONFIG} -f unix typo.js
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT out MATCHES "'shwon' is not defined")
  message(FATAL_ERROR "eslint passed a script with an undefined name (status ${status}):\n${out}${err}")
endif()
