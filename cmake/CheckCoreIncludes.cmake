# Fails when a source of the core library includes, directly or through the
# project headers it includes, anything that is not Qt Core or the core itself.
#
#   cmake -DSOURCES_FILE=<one core source per line> -DSOURCE_ROOT=<repository>
#         -DBINARY_ROOT=<build tree> -DQT_CORE_INCLUDE_DIR=<.../qt6/QtCore>
#         -P CheckCoreIncludes.cmake
#
# A Qt header (<Q...>, <q...>, <QtModule/...>) passes only when Qt Core ships
# it. A project header passes when its own source is in the core or when it
# has no source (a header of declarations only; its includes are checked in
# turn). Generated sources in the build tree are not checked.

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCES_FILE SOURCE_ROOT BINARY_ROOT QT_CORE_INCLUDE_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "CheckCoreIncludes.cmake needs -D${var}=...")
    endif()
endforeach()
if(NOT EXISTS "${QT_CORE_INCLUDE_DIR}/QtCore")
    message(FATAL_ERROR "No Qt Core headers in ${QT_CORE_INCLUDE_DIR}")
endif()

file(STRINGS "${SOURCES_FILE}" listed)
set(core_sources "")
foreach(source IN LISTS listed)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${SOURCE_ROOT}" NORMALIZE)
    cmake_path(IS_PREFIX BINARY_ROOT "${source}" NORMALIZE generated)
    if(NOT generated)
        list(APPEND core_sources "${source}")
    endif()
endforeach()
if(NOT core_sources)
    message(FATAL_ERROR "No core sources listed in ${SOURCES_FILE}")
endif()

set(pending ${core_sources})
set(seen ${core_sources})
set(faults "")
while(pending)
    list(POP_FRONT pending file)
    file(RELATIVE_PATH shown "${SOURCE_ROOT}" "${file}")
    cmake_path(GET file PARENT_PATH dir)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(NOT line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
            continue()
        endif()
        set(delimiter "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        if(delimiter STREQUAL "<")
            if(name MATCHES "^Qt([A-Za-z]+)/(.+)$")
                if(NOT CMAKE_MATCH_1 STREQUAL "Core" OR NOT EXISTS "${QT_CORE_INCLUDE_DIR}/${CMAKE_MATCH_2}")
                    list(APPEND faults "${shown}: <${name}> is not a Qt Core header")
                endif()
            elseif(name MATCHES "^[Qq]" AND NOT EXISTS "${QT_CORE_INCLUDE_DIR}/${name}")
                list(APPEND faults "${shown}: <${name}> is not a Qt Core header")
            endif()
            continue()
        endif()

        # Quoted: next to the including file first, then from the repository root.
        if(EXISTS "${dir}/${name}")
            set(header "${dir}/${name}")
        elseif(EXISTS "${SOURCE_ROOT}/${name}")
            set(header "${SOURCE_ROOT}/${name}")
        elseif(name MATCHES "(^|/)moc_[^/]*\\.cpp$" OR name MATCHES "\\.moc$")
            continue()
        else()
            list(APPEND faults "${shown}: \"${name}\" is not a header of the repository")
            continue()
        endif()
        cmake_path(NORMAL_PATH header)
        cmake_path(REPLACE_EXTENSION header LAST_ONLY ".cpp" OUTPUT_VARIABLE own_source)
        if(NOT header IN_LIST core_sources AND EXISTS "${own_source}" AND NOT own_source IN_LIST core_sources)
            file(RELATIVE_PATH source_shown "${SOURCE_ROOT}" "${own_source}")
            list(APPEND faults "${shown}: \"${name}\" is the header of ${source_shown}, which is not in the core")
            continue()
        endif()
        if(NOT header IN_LIST seen)
            list(APPEND seen "${header}")
            list(APPEND pending "${header}")
        endif()
    endforeach()
endwhile()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "The core library may use Qt Core and its own headers only:\n  ${text}")
endif()
