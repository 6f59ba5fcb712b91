# Opens a summary page in headless Chromium, clicks two group toggles once the page has loaded and
# checks the groups that the page's script opened and closed.
# Called by CTest with -DPERCHLIGHT=<tool> -DDATA=<data directory> -DOUT=<work directory>
# -DCHROMIUM=<browser>.

include(${CMAKE_CURRENT_LIST_DIR}/CliExpect.cmake)

set(page ${OUT}/browser-summary.html)
expect_run(1 "verdict: conflict" evaluate ${DATA}/examples/marketing.xml
           --rules ${DATA}/appel-high.xml --html ${page})
file(READ ${page} html)
string(REPLACE "</body>"
       "<script>window.addEventListener('load', function () { expandIt('GroupHowToReach'); expandIt('GroupAccess'); });</script></body>"
       html "${html}")
file(WRITE ${page} "${html}")
execute_process(COMMAND ${CHROMIUM} --headless --no-sandbox --disable-gpu
                        --disable-background-networking --dump-dom file://${page}
                OUTPUT_VARIABLE dom ERROR_QUIET TIMEOUT 120)
foreach(expected "id=\"GroupHowToReach\" style=\"display: block;\""
                 "id=\"GroupAccess\" style=\"display: none;\""
                 "id=\"GroupStatementChild\" style=\"display: none;\""
                 "id=\"GroupHowToReachImage\" src=\"file://[^\"]*Minimize.gif\"")
    if(NOT dom MATCHES "${expected}")
        message(FATAL_ERROR "the page in the browser lacks ${expected}:\n${dom}")
    endif()
endforeach()
