# The data part of release.check on release folders made here: it passes a
# release whose measured kinds each carry a licence, whatever text their
# names hold, and refuses, naming the kind, one whose measured kind has none,
# whose provenance states another licence, or whose notice lacks it in that
# kind's own block.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../check_data_origins.cmake)
file(REMOVE_RECURSE ${WORK_DIR})

# A title that is hostile to CMake in every way it can be on one line.
set(dollar "$")
set(hostile "${dollar}ENV{HOME} ${dollar}{x ; [=[ ]] \\ Müller")

# Writes a release folder and its data-origins.txt from the kinds given as
# "KIND|state|licence|given-by|title", then lets `spoil` (a CMake snippet)
# change the texts before they are written.
function(make_release name spoil)
    set(origins "")
    set(readme "Data\n")
    set(notices "Directivity data\n")
    foreach(entry IN LISTS ARGN)
        string(REPLACE "|" ";" fields "${entry}")
        list(GET fields 0 kind)
        list(GET fields 1 state)
        list(GET fields 2 licence)
        list(GET fields 3 given_by)
        set(title "${hostile}")
        if(state STREQUAL "placeholder")
            set(provenance "placeholder")
        elseif(licence STREQUAL "")
            set(provenance "measured: ${title}, Lab, licence not given")
        elseif(given_by STREQUAL "the maker")
            set(provenance "measured: ${title}, Lab, licence ${licence} (stated by the maker; the file states none)")
        else()
            set(provenance "measured: ${title}, Lab, licence ${licence}")
        endif()
        set(origin "${kind} (qspan): ${provenance}")
        string(APPEND origins "kind: ${kind}\nstate: ${state}\nlicence: ${licence}\nlicence-given-by: ${given_by}\n"
                              "provenance: ${provenance}\norigin: ${origin}\n\n")
        string(APPEND readme "  ${origin}\n")
        string(APPEND notices "\n${origin}\n")
        if(state STREQUAL "measured")
            string(APPEND notices "  Title: ${title}\n  License: ${licence}\n  License-Given-By: ${given_by}\n")
        endif()
    endforeach()
    cmake_language(EVAL CODE "${spoil}")
    set(dir ${WORK_DIR}/${name})
    file(WRITE ${dir}/README.txt "${readme}")
    file(WRITE ${dir}/CHANGELOG.md "# Changes\n\n${readme}")
    file(WRITE ${dir}/DATA-NOTICES.txt "${notices}")
    file(WRITE ${dir}.origins.txt "${origins}")
endfunction()

set(errors "")
# Runs the check on release `name`; `expected` is "" for a pass, else a text
# the failures must hold, and `not_expected` one they must not.
function(expect name expected not_expected)
    set(failures "")
    check_data_origins(${WORK_DIR}/${name}.origins.txt ${WORK_DIR}/${name} failures)
    string(FIND "${failures}" "$ENV{HOME}" leaked)
    if(NOT leaked LESS 0 AND NOT "$ENV{HOME}" STREQUAL "")
        string(APPEND errors "${name}: the environment came out: ${failures}\n")
    endif()
    if(expected STREQUAL "")
        if(NOT failures STREQUAL "")
            string(APPEND errors "${name}: expected to pass, failed:\n${failures}")
        endif()
    else()
        string(FIND "${failures}" "${expected}" at)
        if(at LESS 0)
            string(APPEND errors "${name}: expected '${expected}', got:\n${failures}\n")
        endif()
    endif()
    if(NOT not_expected STREQUAL "")
        string(FIND "${failures}" "${not_expected}" at)
        if(NOT at LESS 0)
            string(APPEND errors "${name}: '${not_expected}' named wrongly:\n${failures}\n")
        endif()
    endif()
    set(errors "${errors}" PARENT_SCOPE)
    set(DATA_KINDS "${DATA_KINDS}" PARENT_SCOPE)
    set(DATA_ANY_MEASURED "${DATA_ANY_MEASURED}" PARENT_SCOPE)
    set(DATA_PROVENANCE_KTR "${DATA_PROVENANCE_KTR}" PARENT_SCOPE)
endfunction()

set(kinds "KTR|measured|CC-BY-4.0|the file" "QSA|measured|CC-BY-SA-4.0|the maker" "QSB|placeholder||")
make_release(good "" ${kinds})
expect(good "" "")
if(NOT DATA_ANY_MEASURED OR NOT DATA_KINDS STREQUAL "KTR;QSA;QSB" OR NOT DATA_PROVENANCE_KTR MATCHES "^measured: \\$ENV")
    string(APPEND errors "good: read kinds '${DATA_KINDS}', measured ${DATA_ANY_MEASURED}, KTR '${DATA_PROVENANCE_KTR}'\n")
endif()

# Two measured kinds, one without a licence: that one is named, the other not.
make_release(unlicensed "" "KTR|measured|CC-BY-4.0|the file" "QSA|measured||nobody")
expect(unlicensed "QSA is measured, but no licence is recorded" "KTR is measured")

# The provenance the DLL carries states another licence than the record.
make_release(forged [[string(REPLACE "licence CC-BY-4.0" "licence CC0-1.0" readme "${readme}")
                      string(REPLACE "licence CC-BY-4.0" "licence CC0-1.0" notices "${notices}")
                      string(REPLACE "provenance: measured: ${hostile}, Lab, licence CC-BY-4.0"
                                     "provenance: measured: ${hostile}, Lab, licence CC0-1.0" origins "${origins}")]]
             ${kinds})
expect(forged "KTR is measured, but its provenance does not state 'licence CC-BY-4.0'" "")

# KTR's notice lacks its licence, QSA's has one: the licence must be in the
# kind's own block, not anywhere in the file.
make_release(notice [[string(REPLACE "  License: CC-BY-4.0\n" "" notices "${notices}")]] ${kinds})
expect(notice "DATA-NOTICES.txt does not give KTR's licence 'CC-BY-4.0'" "QSA's licence")

# A placeholder kind's origin left out of README.txt.
make_release(readme [[string(REPLACE "  QSB (qspan): placeholder\n" "" readme "${readme}")]] ${kinds})
expect(readme "README.txt does not say 'QSB (qspan): placeholder'" "")

# A maker's licence passed off as the file's.
make_release(given [[string(REPLACE "licence-given-by: the maker" "licence-given-by: the file" origins "${origins}")]] ${kinds})
expect(given "QSA is measured, but its provenance does not state 'licence CC-BY-SA-4.0'" "KTR")

if(NOT errors STREQUAL "")
    message(FATAL_ERROR "the data check of release.check:\n${errors}")
endif()
message(STATUS "the data check passes a licensed release and names each kind without its licence")
