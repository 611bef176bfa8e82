# Fails when a file of a layer's folder includes anything above what the
# layer may use: Qt Core, and the project's headers under the allowed folders.
#
#   cmake -DLAYER=core -DALLOWED="core" -DSOURCE_ROOT=<repository>
#         -DQT_CORE_INCLUDE_DIR=<.../qt6/QtCore> [-DQT_MORE_INCLUDE_DIRS=<.../qt6/QtNetwork>]
#         -P CheckLayer.cmake
#
# QT_MORE_INCLUDE_DIRS names the include folders of further Qt modules the
# layer may use (the tools' Qt Network).
#
# Every header and source under <repository>/<LAYER> is read. A Qt header
# (<Q...>, <q...>, <QtModule/...>) passes only when Qt Core (or a module
# QT_MORE_INCLUDE_DIRS names) ships it; a quoted
# header, found next to the including file or from the repository root, only
# when it lies under one of the ALLOWED folders. Since every file of the
# layer is read, what a header includes is checked where it is written.
#
# The headers of the libraries the project links besides Qt are named in
# LIBRARY_HEADERS: a layer includes only those of them it is given in
# -DLAYER_LIBRARY_HEADERS (muParser.h for the core, mosquitto.h for the
# tools), so a library linked for one layer does not creep into another.

cmake_minimum_required(VERSION 3.25)

foreach(var LAYER ALLOWED SOURCE_ROOT QT_CORE_INCLUDE_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "CheckLayer.cmake needs -D${var}=...")
    endif()
endforeach()
set(LIBRARY_HEADERS muParser.h mosquitto.h qcustomplot.h)
if(NOT EXISTS "${QT_CORE_INCLUDE_DIR}/QtCore")
    message(FATAL_ERROR "No Qt Core headers in ${QT_CORE_INCLUDE_DIR}")
endif()

file(GLOB_RECURSE layer_files "${SOURCE_ROOT}/${LAYER}/*.h" "${SOURCE_ROOT}/${LAYER}/*.cpp")
if(NOT layer_files)
    message(FATAL_ERROR "No sources under ${SOURCE_ROOT}/${LAYER}")
endif()

set(faults "")
foreach(file IN LISTS layer_files)
    file(RELATIVE_PATH shown "${SOURCE_ROOT}" "${file}")
    cmake_path(GET file PARENT_PATH dir)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(NOT line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
            continue()
        endif()
        set(delimiter "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        if(delimiter STREQUAL "<" AND name IN_LIST LIBRARY_HEADERS)
            if(NOT name IN_LIST LAYER_LIBRARY_HEADERS)
                list(APPEND faults "${shown}: <${name}> is a library this layer does not link")
            endif()
            continue()
        endif()
        if(delimiter STREQUAL "<")
            set(qt_dirs "${QT_CORE_INCLUDE_DIR}" ${QT_MORE_INCLUDE_DIRS})
            set(qt_file "")
            if(name MATCHES "^(Qt[A-Za-z]+)/(.+)$")
                set(qt_file "${CMAKE_MATCH_2}")
                list(FILTER qt_dirs INCLUDE REGEX "/${CMAKE_MATCH_1}$")
            elseif(name MATCHES "^[Qq]")
                set(qt_file "${name}")
            endif()
            if(NOT qt_file STREQUAL "")
                set(shipped FALSE)
                foreach(qt_dir IN LISTS qt_dirs)
                    if(EXISTS "${qt_dir}/${qt_file}")
                        set(shipped TRUE)
                    endif()
                endforeach()
                if(NOT shipped AND QT_MORE_INCLUDE_DIRS)
                    list(APPEND faults "${shown}: <${name}> is not a header of Qt Core or ${QT_MORE_INCLUDE_DIRS}")
                elseif(NOT shipped)
                    list(APPEND faults "${shown}: <${name}> is not a Qt Core header")
                endif()
            endif()
            continue()
        endif()

        if(name MATCHES "(^|/)moc_[^/]*\\.cpp$" OR name MATCHES "\\.moc$")
            continue()
        elseif(EXISTS "${dir}/${name}")
            set(header "${dir}/${name}")
        elseif(EXISTS "${SOURCE_ROOT}/${name}")
            set(header "${SOURCE_ROOT}/${name}")
        else()
            list(APPEND faults "${shown}: \"${name}\" is not a header of the repository")
            continue()
        endif()
        cmake_path(NORMAL_PATH header)
        set(inside FALSE)
        foreach(folder IN LISTS ALLOWED)
            cmake_path(IS_PREFIX SOURCE_ROOT "${header}" NORMALIZE in_root)
            if(in_root)
                file(RELATIVE_PATH relative "${SOURCE_ROOT}" "${header}")
                if(relative MATCHES "^${folder}/")
                    set(inside TRUE)
                endif()
            endif()
        endforeach()
        if(NOT inside)
            list(JOIN ALLOWED "/, " folders)
            list(APPEND faults "${shown}: \"${name}\" is not under ${folders}/")
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "${LAYER}/ may use Qt Core and the headers under ${ALLOWED} only:\n  ${text}")
endif()
