# Runs the command-line tool on the bundled data and checks its output and exit statuses.
# Called by CTest with -DPERCHLIGHT=<tool> -DDATA=<data directory>.

include(${CMAKE_CURRENT_LIST_DIR}/CliExpect.cmake)

set(HIGH --rules ${DATA}/appel-high.xml)
# The demo site whose verdict depends on the level: Medium accepts mail unless one opts out, High
# does not.
set(NEWSLETTER ${DATA}/../examples/sites/newsletter/w3c/policy.xml)
expect_run(0 "verdict: matched" evaluate ${NEWSLETTER} --rules ${DATA}/appel-medium.xml)
expect_run(1 "  - Unless you opt-out, site may contact you through means other than telephone"
           evaluate ${NEWSLETTER} ${HIGH})
expect_run(0 "verdict: matched" evaluate ${DATA}/examples/shop-basic.xml ${HIGH})
expect_run(1 "  - Site does not allow you to find out what data they have about you"
           evaluate ${DATA}/examples/marketing.xml ${HIGH})
expect_run(0 "code:    -1" evaluate ${DATA}/examples/test-policy.xml ${HIGH})
expect_run(2 "code:    10 (malformed policy)" evaluate ${DATA}/examples/malformed.xml ${HIGH})
expect_run(2 "code:    6 (policy not found)"
           evaluate ${DATA}/examples/shop-basic.xml ${HIGH} --name nosuch)
expect_run(0 "\"verdict\": \"matched\"" evaluate ${DATA}/examples/shop-basic.xml ${HIGH} --json)
# The digest: business fields, access text and per statement its data, purposes and recipients.
expect_run(1 "  e-mail: privacy@books.example\n  web address: http://books.example/\n  access: "
           evaluate ${DATA}/examples/bookshop.xml ${HIGH})
expect_run(1 "  statement 2: Orders\n    data:\n      Miscellaneous Non-base Data Schema Information\n        Financial information"
           evaluate ${DATA}/examples/bookshop.xml ${HIGH})
expect_run(1 "\"BusinessPostalCity\": \"Bristol\""
           evaluate ${DATA}/examples/bookshop.xml ${HIGH} --json)
expect_run(1 "\"optOutUri\": \"http://retail.example/optout.html\""
           evaluate ${DATA}/examples/marketing.xml ${HIGH} --json)
# Why each rule fired: under its description the statement, in words, and the elements.
expect_run(1 "      statement 1: shares purchase data with unrelated companies\n        RECIPIENT unrelated\n        DATA #dynamic.miscdata\n        CATEGORIES purchase"
           evaluate ${DATA}/examples/marketing.xml --rules ${DATA}/appel-low.xml --why)
expect_json(1 "firedRules;0;statements;0;statement" "1"
            evaluate ${DATA}/examples/marketing.xml --rules ${DATA}/appel-low.xml --json)
expect_json(1 "firedRules;0;statements;0;elements;0;element" "RECIPIENT"
            evaluate ${DATA}/examples/marketing.xml --rules ${DATA}/appel-low.xml --json)
expect_run(2 "Cannot read" evaluate ${DATA}/examples/shop-basic.xml
           --rules ${DATA}/examples/nonexistent.xml)
expect_run(2 "XML parse error" evaluate ${CMAKE_CURRENT_LIST_FILE} ${HIGH})
expect_run(64 "--rules" evaluate ${DATA}/examples/shop-basic.xml)
expect_run(64 "Invalid URL" evaluate ${DATA}/examples/shop-basic.xml ${HIGH} --request nowhere)
# With --json every failure is still one JSON document that names the input at fault.
file(WRITE ${OUT}/garbage-rules.xml "<appel:RULESET><appel:RULE")
file(WRITE ${OUT}/not-rules.xml "<POLICIES/>")
expect_json(2 "error;input" "rules" evaluate ${DATA}/examples/shop-basic.xml
            --rules ${OUT}/garbage-rules.xml --json)
expect_json(2 "error;message" "Cannot read the rule set ${OUT}/garbage-rules.xml: XML parse error"
            evaluate ${DATA}/examples/shop-basic.xml --rules ${OUT}/garbage-rules.xml --json)
expect_json(2 "error;input" "rules" evaluate ${DATA}/examples/shop-basic.xml
            --rules ${OUT}/not-rules.xml --json)
# A well-formed file that is no rule set: the policy is still evaluated, nothing can match, and
# the digest comes with the reason.
expect_json(2 "state" "-1" evaluate ${DATA}/examples/shop-basic.xml --rules ${OUT}/not-rules.xml --json)
expect_json(2 "code" "0" evaluate ${DATA}/examples/shop-basic.xml --rules ${OUT}/not-rules.xml --json)
expect_json(2 "disclosureUri" "http://shop.example/privacy.html"
            evaluate ${DATA}/examples/shop-basic.xml --rules ${OUT}/not-rules.xml --json)
expect_run(2 "why:     the rule set ${OUT}/not-rules.xml cannot be used" evaluate
           ${DATA}/examples/shop-basic.xml --rules ${OUT}/not-rules.xml)
expect_run(2 "  business name: Example Shop" evaluate ${DATA}/examples/shop-basic.xml
           --rules ${OUT}/not-rules.xml)
expect_json(2 "error;input" "policy" evaluate ${CMAKE_CURRENT_LIST_FILE} ${HIGH} --json)
expect_json(2 "error;message" "malformed policy" evaluate ${DATA}/examples/malformed.xml ${HIGH} --json)
expect_json(3 "verdict" "unknown" check "not a url" --json)
# A bare address is taken as a survey takes it; a page that gave nothing says why, as a survey
# record does.
expect_run(3 "why:     connect: Connection refused" check 127.0.0.1:1)
expect_json(3 "error" "connect: Connection refused" check http://127.0.0.1:1/ --json)
expect_json(3 "error" "only http and https pages are checked" check ftp://127.0.0.1/ --json)
# A level whose rule set was never written is named as missing before anything is fetched.
set(ENV{PERCHLIGHT_HOME} ${DATA}/examples)
expect_run(3 "no rule set at ${DATA}/examples/p3ppreferences.xml" check http://127.0.0.1:1/ --level custom)
expect_run(3 "import one with" check http://127.0.0.1:1/ --level imported)
unset(ENV{PERCHLIGHT_HOME})
# The summary page written beside the digest.
expect_run(1 "  statement 1" evaluate ${DATA}/examples/marketing.xml ${HIGH} --html ${OUT}/marketing.html)
file(READ ${OUT}/marketing.html page)
string(FIND "${page}" "Find out how to opt&#45;out" found)
if(found EQUAL -1)
    message(FATAL_ERROR "summary page lacks its opt-out link")
endif()
