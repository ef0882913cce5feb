# A release built from a data folder whose records hold names in several
# scripts and every kind of text that is hostile to a build: control
# characters, a licence and a file line forged after them, "$ENV{...}",
# "${...}", an unterminated "${", ';', brackets, a zero byte and invalid
# UTF-8. It is built twice: from the source here and from a copy elsewhere,
# in build folders of other names, with another HOME each.
#
# Checked: the configure never fails; the three DLLs are byte-identical
# between the builds; README.txt, CHANGELOG.md and DATA-NOTICES.txt carry
# the names intact and the hostile text as inert text, with no licence or
# file line it did not have; each DLL's record holds its names; no DLL holds
# anything of the builder's environment (read with `strings`); the data part
# of release.check passes; and, where EMULATOR runs 32-bit programs, the
# whole release.check with plugininfo.exe --data.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/check_data_origins.cmake)
include(ProcessorCount)
set(data ${WORK_DIR}/data)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${data})

# ---- The data folder: the placeholder balloons, taken as measured, each
# with a record of its own.
foreach(kind IN ITEMS ktr qsa qsb qsc)
    file(COPY_FILE ${SOURCE_DIR}/models/data/${kind}.f32 ${data}/${kind}.f32)
endforeach()
string(ASCII 1 soh)
string(ASCII 27 esc)
string(ASCII 127 del)
string(ASCII 252 latin1_u_umlaut)  # 'ü' in Latin-1: not UTF-8
set(dollar "$")
# A record with a zero byte in it, between `before` and `after`: CMake
# strings hold none, so `printf` writes it and `cmake -E cat` joins the parts.
function(write_record file before after)
    file(WRITE ${file}.before "${before}")
    file(WRITE ${file}.after "${after}")
    execute_process(COMMAND printf "\\000" OUTPUT_FILE ${file}.zero)
    execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${file}.before ${file}.zero ${file}.after
                    OUTPUT_FILE ${file} RESULT_VARIABLE result)
    file(SIZE ${file}.zero zero)
    if(NOT result EQUAL 0 OR NOT zero EQUAL 1)
        message(FATAL_ERROR "cannot write ${file}")
    endif()
    file(REMOVE ${file}.before ${file}.zero ${file}.after)
endfunction()

write_record(${data}/ktr.source.txt
    "# ktr.f32: imported by balloon import-sofa\nTitle: X${soh}License: CC0-fake ${dollar}ENV{HOME} ${dollar}{CMAKE_COMMAND} ${dollar}{x ; a[b ]] [=[ \\ ${esc}[31m${del}end "
    "Z M${latin1_u_umlaut}ller\nOrganization: Müller Lab\nLicense: CC-BY-4.0\nLicense-Given-By: the file\nComment: c${soh}File: evil.sofa\nFile: ktr.sofa\nSHA-256: 0\n")
file(WRITE ${data}/qsa.source.txt "Title: QSA ; a[b\nOrganization: Universität Ångström\nLicense: CC-BY-SA-4.0\n"
                                  "License-Given-By: the file\nFile: qsa.sofa\n")
file(WRITE ${data}/qsb.source.txt "Title: QSB\nOrganization: 東京音響研究所\nLicense: CC-BY-4.0\nLicense-Given-By: the maker\n"
                                  "File: qsb.sofa\n")
string(REPEAT "Long title " 182 long_title)  # 2002 characters
file(WRITE ${data}/qsc.source.txt "Title: ${long_title}\nOrganization: Lab\nLicense: CC0-1.0\nLicense-Given-By: the file\n")

# ---- What each kind's provenance must read, written out by hand.
string(ASCII 239 191 189 fffd)
set(provenance_KTR "measured: X License: CC0-fake ${dollar}ENV{HOME} ${dollar}{CMAKE_COMMAND} ${dollar}{x ; a[b ]] [=[ \\  [31m end  Z M${fffd}ller, Müller Lab, licence CC-BY-4.0")
set(provenance_QSA "measured: QSA ; a[b, Universität Ångström, licence CC-BY-SA-4.0")
set(provenance_QSB "measured: QSB, 東京音響研究所, licence CC-BY-4.0 (stated by the maker; the file states none)")
string(SUBSTRING "${long_title}" 0 234 cut_title)
set(provenance_QSC "measured: ${cut_title}…[cut], Lab, licence CC0-1.0")

# ---- Two builds.
ProcessorCount(jobs)
set(copy ${WORK_DIR}/elsewhere/line-array-source)
file(MAKE_DIRECTORY ${copy})
file(COPY ${SOURCE_DIR}/ DESTINATION ${copy} PATTERN .git EXCLUDE PATTERN build EXCLUDE)
string(REPLACE "${SOURCE_DIR}" "${copy}" copy_toolchain "${TOOLCHAIN}")
set(failures "")
function(fail text)
    set(failures "${failures}  ${text}\n" PARENT_SCOPE)
endfunction()
foreach(build IN ITEMS first second)
    if(build STREQUAL "first")
        set(source ${SOURCE_DIR})
        set(toolchain ${TOOLCHAIN})
        set(tree ${WORK_DIR}/first-build)
    else()
        set(source ${copy})
        set(toolchain ${copy_toolchain})
        set(tree ${WORK_DIR}/elsewhere/another-build-folder)
    endif()
    set(home_${build} ${WORK_DIR}/home-leak-marker-${build})
    file(MAKE_DIRECTORY ${home_${build}})
    execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${home_${build}} LEAK_MARKER=leak-marker-${build}
                            ${CMAKE_COMMAND} -S ${source} -B ${tree} -D CMAKE_TOOLCHAIN_FILE=${toolchain}
                            -D CMAKE_BUILD_TYPE=${BUILD_TYPE} -D BUILD_TESTING=OFF -D MODEL_DATA_DIR=${data}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "the configure with hostile data fails (${build} build):\n${out}${err}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${home_${build}} LEAK_MARKER=leak-marker-${build}
                            ${CMAKE_COMMAND} --build ${tree} --target release_package -j ${jobs}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "the build with hostile data fails (${build} build):\n${out}${err}")
    endif()
    set(tree_${build} ${tree})
endforeach()

# ---- Reproducible: the DLLs and the documents the same bytes.
set(identical 0)
foreach(name IN ITEMS ktr2.dll ktr4.dll qspan.dll)
    file(SHA256 ${tree_first}/bin/${name} a)
    file(SHA256 ${tree_second}/bin/${name} b)
    if(a STREQUAL b)
        math(EXPR identical "${identical} + 1")
    else()
        fail("${name} differs between the builds: ${a} and ${b}")
    endif()
endforeach()
foreach(name IN ITEMS README.txt CHANGELOG.md DATA-NOTICES.txt data-origins.txt)
    file(SHA256 ${tree_first}/packaging/${name} a)
    file(SHA256 ${tree_second}/packaging/${name} b)
    if(NOT a STREQUAL b)
        fail("${name} differs between the builds")
    endif()
endforeach()

# ---- The documents of the archive.
file(GLOB archive ${tree_first}/line-array-plugins-*-measured-*-win32.zip)
list(LENGTH archive count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one measured archive in ${tree_first}, found '${archive}'")
endif()
get_filename_component(release_name ${archive} NAME_WLE)
file(MAKE_DIRECTORY ${WORK_DIR}/unpacked)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${archive} WORKING_DIRECTORY ${WORK_DIR}/unpacked)
set(dir ${WORK_DIR}/unpacked/${release_name})
file(READ ${dir}/README.txt readme)
file(READ ${dir}/DATA-NOTICES.txt notices)
file(READ ${dir}/CHANGELOG.md changelog)
set(products_KTR "ktr2, ktr4")
foreach(kind IN ITEMS KTR QSA QSB QSC)
    if(NOT kind STREQUAL "KTR")
        set(products_${kind} "qspan")
    endif()
    set(line "${kind} (${products_${kind}}): ${provenance_${kind}}\n")
    foreach(document IN ITEMS readme notices changelog)
        string(FIND "${${document}}" "${line}" at)
        if(at LESS 0)
            fail("${document} does not carry '${line}'")
        endif()
    endforeach()
endforeach()
# The notices keep each attribute on its own line, and no forged one.
foreach(expected IN ITEMS "\n  Comment: c File: evil.sofa\n" "\n  File: ktr.sofa\n" "\n  Organization: Müller Lab\n"
                          "\n  Organization: Universität Ångström\n" "\n  Organization: 東京音響研究所\n"
                          "\n  License-Given-By: the maker\n")
    string(FIND "${notices}" "${expected}" at)
    if(at LESS 0)
        fail("DATA-NOTICES.txt does not say '${expected}'")
    endif()
endforeach()
foreach(forged IN ITEMS "\n  License: CC0-fake" "\n  File: evil.sofa" "\nLicense: CC0-fake" "\nFile: evil.sofa")
    string(FIND "${readme}${notices}${changelog}" "${forged}" at)
    if(NOT at LESS 0)
        fail("a forged line '${forged}' reached the documents")
    endif()
endforeach()
set(failures_before "${failures}")
check_data_origins(${tree_first}/packaging/data-origins.txt ${dir} failures)
if(NOT DATA_KINDS STREQUAL "KTR;QSA;QSB;QSC" OR NOT DATA_ANY_MEASURED)
    fail("the data check read kinds '${DATA_KINDS}'")
endif()

# ---- The DLLs: each kind's record with its names, and nothing of the
# builders' environment.
find_program(STRINGS NAMES strings i686-w64-mingw32-strings REQUIRED)
foreach(library IN ITEMS ktr2 ktr4 qspan)
    set(kinds KTR)
    if(library STREQUAL "qspan")
        set(kinds QSA QSB QSC)
    endif()
    file(READ ${tree_first}/bin/${library}.dll bytes HEX)
    foreach(kind IN LISTS kinds)
        string(TOLOWER ${kind} lower)
        file(SHA256 ${data}/${lower}.f32 hash)
        string(HEX "MODEL-DATA ${kind} sha256=${hash} ${provenance_${kind}}" record)
        string(FIND "${bytes}" "${record}00" at)
        if(at LESS 0)
            fail("${library}.dll does not carry ${kind}'s record 'MODEL-DATA ${kind} sha256=${hash} ${provenance_${kind}}'")
        endif()
    endforeach()
    execute_process(COMMAND ${STRINGS} -a ${tree_first}/bin/${library}.dll ${tree_second}/bin/${library}.dll
                    OUTPUT_VARIABLE text RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        fail("strings cannot read ${library}.dll")
    endif()
    foreach(leak IN ITEMS leak-marker ${CMAKE_COMMAND} ${SOURCE_DIR} ${WORK_DIR})
        string(FIND "${text}" "${leak}" at)
        if(NOT at LESS 0)
            fail("${library}.dll holds '${leak}' from the build machine")
        endif()
    endforeach()
    string(FIND "${text}" "${dollar}ENV{HOME} ${dollar}{CMAKE_COMMAND} ${dollar}{x ; a[b ]] [=[ \\" at)
    if(library STREQUAL "ktr4" AND at LESS 0)
        fail("${library}.dll does not show the title's text as it stands to strings")
    endif()
endforeach()

# ---- The whole check, with plugininfo.exe --data, where 32-bit programs run.
execute_process(COMMAND ${EMULATOR} ${dir}/plugininfo.exe --data ${dir}/ktr4.dll
                RESULT_VARIABLE runs OUTPUT_QUIET ERROR_QUIET)
if(runs EQUAL 0)
    string(REGEX MATCH "-measured-[0-9a-f]+" tag "${release_name}")
    execute_process(COMMAND ${CMAKE_COMMAND} -D ARCHIVE=${archive} -D RELEASE_NAME=${release_name} -D VERSION=${VERSION}
                            -D WORK_DIR=${WORK_DIR}/check -D EXPORT_LIST=${SOURCE_DIR}/plugin/exports.inc
                            -D DATA_ORIGINS_FILE=${tree_first}/packaging/data-origins.txt -D DATA_TAG=${tag}
                            "-D EMULATOR=${EMULATOR}" -P ${SOURCE_DIR}/packaging/check_package.cmake
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        fail("release.check refuses the release:\n${out}${err}")
    endif()
    set(whole "release.check with plugininfo.exe --data passes")
else()
    set(whole "release.check's DLL part NOT run: this machine does not run 32-bit programs under '${EMULATOR}'")
endif()

if(failures)
    message(FATAL_ERROR "a release built from hostile data:\n${failures}")
endif()
message(STATUS "hostile data: ${identical} of 3 DLLs identical between the builds; names intact and hostile text inert "
               "in every document and DLL; nothing of the environment in the DLLs; ${whole}")
file(REMOVE_RECURSE ${WORK_DIR}/elsewhere ${WORK_DIR}/first-build)
