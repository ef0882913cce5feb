# Reads plugin/exports.inc, the one list of exports, and writes the
# module-definition file of a deliverable from it.

set(PLUGIN_EXPORT_LIST ${PROJECT_SOURCE_DIR}/plugin/exports.inc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PLUGIN_EXPORT_LIST})

# plugin_write_def(<output .def> <library name> <shares entry points: ON/OFF>)
# Every export is named without decoration and bound to its __stdcall symbol.
# With shared entry points, PLUGIN_SHARED_ENTRY(name, target) exports `name`
# at the address of `target`.
function(plugin_write_def output library shares)
    file(STRINGS ${PLUGIN_EXPORT_LIST} lines REGEX "^PLUGIN_(EXPORT|SHARED_ENTRY)\\(")
    set(names)
    foreach(line IN LISTS lines)
        if(line MATCHES "^PLUGIN_EXPORT\\([^,]+, *([A-Za-z0-9_]+), *\\(.*\\), *([0-9]+)\\)")
            list(APPEND names ${CMAKE_MATCH_1})
            set(bytes_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
            set(symbol_${CMAKE_MATCH_1} ${CMAKE_MATCH_1})
        elseif(line MATCHES "^PLUGIN_SHARED_ENTRY\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\)")
            if(shares)
                set(symbol_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
            endif()
        else()
            message(FATAL_ERROR "unreadable export line: ${line}")
        endif()
    endforeach()
    set(content "; Made by the build from plugin/exports.inc.\nLIBRARY ${library}.dll\nEXPORTS\n")
    foreach(name IN LISTS names)
        set(symbol ${symbol_${name}})
        string(APPEND content "    ${name} = ${symbol}@${bytes_${symbol}}\n")
    endforeach()
    file(CONFIGURE OUTPUT ${output} CONTENT "${content}")
endfunction()
