# The uPlot files built into the dashboard page are the ones npm installs for the version that
# tests/browser/package-lock.json pins: byte for byte, licence included. Skipped (a line with
# "SKIPPED:") when npm ci has not been run in tests/browser.
set(installed "${TK_BROWSER_DIR}/node_modules/uplot")
if(NOT EXISTS "${installed}/package.json")
  message("SKIPPED: uPlot is not installed (run npm ci in tests/browser)")
  return()
endif()
file(READ "${TK_BROWSER_DIR}/package-lock.json" lock)
string(JSON locked GET "${lock}" packages node_modules/uplot version)
file(READ "${installed}/package.json" manifest)
string(JSON version GET "${manifest}" version)
if(NOT version STREQUAL locked)
  message(FATAL_ERROR "installed uPlot ${version} is not the locked ${locked}: run npm ci in tests/browser")
endif()
foreach(pair "dist/uPlot.iife.min.js=uPlot.iife.min.js" "dist/uPlot.min.css=uPlot.min.css"
        "LICENSE=uPlot-LICENSE")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${installed}/${from}"
                          "${TK_VENDOR_DIR}/${to}" RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${TK_VENDOR_DIR}/${to} differs from uPlot ${locked}'s ${from}")
  endif()
endforeach()
message("uPlot ${locked}: the page's copy matches the npm package")
