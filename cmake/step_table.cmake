# What the step table decides, for the build and the scripts configured from
# it. step_table_facts(ROWS) takes the list ROWS of rows of steps/step_table.def,
# oldest first, and sets in the caller's scope:
#   CFGMIGRATE_NEWEST_LABEL  the last row's to-label, the newest schema
#                            version the tool knows
#   CFGMIGRATE_ONE_WAY_ROWS  the one-way rows, "FROM TO" a line
#   CFGMIGRATE_ROWS          every row, "FROM TO ONE_WAY" or "FROM TO BOTH_WAYS"
#                            a line
#   CFGMIGRATE_IMAGE_ROW     "FROM TO" of the row whose edit writes the portal
#                            images to /tmp
#   ROW_<handler>            each row's tag under SCHEMA VERSIONS in the
#                            manual page
#   CFGMIGRATE_TARGET        the firmware's schema version: the cache entry
#                            CFGMIGRATE_TARGET, or the newest label; never
#                            older than the newest label, whose rows a
#                            migration to it would otherwise miss
macro(step_table_facts rows)
  set(CFGMIGRATE_ONE_WAY_ROWS "")
  set(CFGMIGRATE_ROWS "")
  foreach(row IN LISTS ${rows})
    if(NOT row MATCHES "^STEP\\(\"(v[^\"]+)\", \"(v[^\"]+)\", ([a-z0-9_]+), (ONE_WAY|BOTH_WAYS)\\)$")
      message(FATAL_ERROR "steps/step_table.def: not a row: ${row}")
    endif()
    set(CFGMIGRATE_NEWEST_LABEL ${CMAKE_MATCH_2})
    string(APPEND CFGMIGRATE_ROWS "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_4}\n")
    string(REPLACE "-" "\\-" page_from "${CMAKE_MATCH_1}")
    string(REPLACE "-" "\\-" page_to "${CMAKE_MATCH_2}")
    set(page_labels "${page_from} \" \\(-> \" ${page_to}")
    if(CMAKE_MATCH_3 STREQUAL "step_remote_range_and_portal_images")
      set(CFGMIGRATE_IMAGE_ROW "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    endif()
    if(CMAKE_MATCH_4 STREQUAL "ONE_WAY")
      string(APPEND CFGMIGRATE_ONE_WAY_ROWS "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
      set(ROW_${CMAKE_MATCH_3} ".BR ${page_labels} \" (one\\-way)\"")
    else()
      set(ROW_${CMAKE_MATCH_3} ".BR ${page_labels} \" (carried back)\"")
    endif()
  endforeach()
  # Labels compare as CMake versions once the 1.0 line's date is a fourth
  # field: the order the tool's version codes give.
  set(CFGMIGRATE_TARGET ${CFGMIGRATE_TARGET})
  if(CFGMIGRATE_TARGET STREQUAL "")
    set(CFGMIGRATE_TARGET ${CFGMIGRATE_NEWEST_LABEL})
  endif()
  string(REGEX REPLACE "^v([^-]*)-?" "\\1." table_target "${CFGMIGRATE_TARGET}")
  string(REGEX REPLACE "^v([^-]*)-?" "\\1." table_newest "${CFGMIGRATE_NEWEST_LABEL}")
  if(NOT CFGMIGRATE_TARGET MATCHES "^v[0-9]+[.][0-9]+[.][0-9]+(-[0-9]+)?$"
     OR table_target VERSION_LESS table_newest)
    message(FATAL_ERROR "CFGMIGRATE_TARGET ${CFGMIGRATE_TARGET} is not a version label at or above "
      "the step table's newest, ${CFGMIGRATE_NEWEST_LABEL}")
  endif()
endmacro()
