# The packages' changelog made from NEWS.md: a table of NEWS texts, each with the changelog worked
# out by hand or the complaint it must end with.
#
# cmake -DSCRIPT=packaging/news-to-changelog.cmake -DWORK=DIR -P news_to_changelog_test.cmake
cmake_minimum_required(VERSION 3.25)

set(trailer " -- Dev <dev@example.org>  ")
set(failures 0)

# run(NAME VERSION NEWS EXPECTED): EXPECTED is the whole changelog, or "FAIL:text" for a refusal
# whose message contains text.
function(run name version news expected)
    set(input "${WORK}/${name}.md")
    set(output "${WORK}/${name}.changelog")
    file(WRITE "${input}" "${news}")
    file(REMOVE "${output}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -DNEWS=${input} -DOUTPUT=${output} -DSOURCE=glowcast -DVERSION=${version}
            "-DMAINTAINER=Dev <dev@example.org>" -P ${SCRIPT}
        RESULT_VARIABLE status
        ERROR_VARIABLE errors)
    if(expected MATCHES "^FAIL:(.*)$")
        # CMake wraps the message's lines.
        string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
        string(FIND "${errors}" "${CMAKE_MATCH_1}" at)
        if(status EQUAL 0 OR at EQUAL -1 OR EXISTS "${output}")
            message(SEND_ERROR "${name}: expected a refusal with '${CMAKE_MATCH_1}', got status ${status}: ${errors}")
        endif()
        return()
    endif()
    if(NOT status EQUAL 0)
        message(SEND_ERROR "${name}: refused: ${errors}")
        return()
    endif()
    file(READ "${output}" actual)
    if(NOT actual STREQUAL expected)
        message(SEND_ERROR "${name}: expected\n${expected}\ngot\n${actual}")
    endif()
endfunction()

# Week days: 2026-12-06 was a Sunday, 2024-02-29 a Thursday (a leap day, before March), 2000-01-01
# a Saturday. The introduction before the first release is left out; continuation lines join
# their item; back quotes go, semicolons and brackets stay.
run(releases 1.0.0 "# News\n\nIntro `text`.\n\n## 1.0.0 (2026-12-06)\n\n- First `item`;\n  continued [here](x).\n- Second.\n\n## 0.9.1 (2024-02-29)\n- Leap.\n\n## 0.2 (2000-01-01)\n\n- Old.\n"
"glowcast (1.0.0) unstable; urgency=medium

  * First item; continued [here](x).
  * Second.

${trailer}Sun, 06 Dec 2026 12:00:00 +0000

glowcast (0.9.1) unstable; urgency=medium

  * Leap.

${trailer}Thu, 29 Feb 2024 12:00:00 +0000

glowcast (0.2) unstable; urgency=medium

  * Old.

${trailer}Sat, 01 Jan 2000 12:00:00 +0000
")

# Wrapping: a line of exactly 80 columns stays whole, a word that would make it 81 starts the next.
set(nine aaaaaaaaa)
set(seven_nines "${nine} ${nine} ${nine} ${nine} ${nine} ${nine} ${nine}")
run(wrapping 0.1.0 "## 0.1.0 (2027-03-01)\n- ${seven_nines} bbbbbb c\n- ${seven_nines}\n  bbbbbbb\n"
"glowcast (0.1.0) unstable; urgency=medium

  * ${seven_nines} bbbbbb
    c
  * ${seven_nines}
    bbbbbbb

${trailer}Mon, 01 Mar 2027 12:00:00 +0000
")

run(heading_without_brackets 0.1.0 "## 0.1.0 2026-12-06\n- Item.\n" "FAIL:.md:1: a release reads")
# Dates the heading's pattern lets through but the calendar has not. 2100 is not a leap year, 2000
# was (the first case above has 2024-02-29).
foreach(date 2026-00-06 2026-13-06 2026-12-00 2026-12-32 2026-04-31 2026-02-29 2100-02-29)
    run(no_such_date_${date} 0.1.0 "## 0.1.0 (${date})\n- Item.\n" "FAIL:.md:1: no such date")
endforeach()
run(leap_day_2000 0.1.0 "## 0.1.0 (2000-02-29)\n- Item.\n"
"glowcast (0.1.0) unstable; urgency=medium

  * Item.

${trailer}Tue, 29 Feb 2000 12:00:00 +0000
")
run(item_without_space 0.1.0 "## 0.1.0 (2026-12-06)\n-Item.\n" "FAIL:.md:2: neither an item")
run(release_without_items 0.2.0 "## 0.2.0 (2026-12-07)\n\n## 0.1.0 (2026-12-06)\n- Item.\n" "FAIL:release 0.2.0 has no items")
run(last_release_without_items 0.2.0 "## 0.2.0 (2026-12-07)\n- Item.\n## 0.1.0 (2026-12-06)\n" "FAIL:release 0.1.0 has no items")
run(stray_line 0.1.0 "## 0.1.0 (2026-12-06)\n- Item.\nStray.\n" "FAIL:.md:3: neither an item")
run(continuation_without_item 0.1.0 "## 0.1.0 (2026-12-06)\n\n  Orphan.\n" "FAIL:.md:3: neither an item")
run(older_than_the_build 0.2.0 "## 0.1.0 (2026-12-06)\n- Item.\n" "FAIL:newest release in")
run(no_release 0.1.0 "# News\n\nNothing yet.\n" "FAIL:has no release")
