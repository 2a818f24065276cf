# Installs the build tree into a scratch prefix and checks what lands there.
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> -DSOURCE_DIR=<source tree>
#         -DVERSION=<project version> -P check_install.cmake
# cmake --install always writes install_manifest.txt into the build tree; the one of a real
# installation (which the uninstall instructions rely on) is put back afterwards.

cmake_minimum_required(VERSION 3.25)

function(fail)
    string(JOIN "" text ${ARGN})
    message(FATAL_ERROR "${text}")
endfunction()

set(manifest "${BUILD_DIR}/install_manifest.txt")
set(saved "${BUILD_DIR}/install_manifest.txt.saved-by-test")
file(REMOVE "${saved}")
if(EXISTS "${manifest}")
    file(RENAME "${manifest}" "${saved}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(installed "")
if(EXISTS "${manifest}")
    file(STRINGS "${manifest}" installed)
    file(REMOVE "${manifest}")
endif()
if(EXISTS "${saved}")
    file(RENAME "${saved}" "${manifest}")
endif()
if(NOT result EQUAL 0)
    fail("cmake --install failed (${result}):\n${output}")
endif()

# The programs, runnable from the prefix; the server in sbin, as its manual section says.
foreach(program bin/dazoroz bin/dazoroz-send sbin/dazoroz-snppd)
    set(path "${PREFIX}/${program}")
    execute_process(COMMAND test -f "${path}" -a -x "${path}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        fail("no executable ${path}")
    endif()
endforeach()
foreach(path bin/dazoroz bin/dazoroz-send sbin/dazoroz-snppd)
    get_filename_component(program "${path}" NAME)
    execute_process(COMMAND "${PREFIX}/${path}" --version
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "${program} ${VERSION}\n")
        fail("installed ${program} --version gave (${result}): ${output}")
    endif()
endforeach()

# The menu entry.
set(desktop "${PREFIX}/share/applications/dazoroz.desktop")
if(NOT EXISTS "${desktop}")
    fail("no ${desktop}")
endif()
file(STRINGS "${desktop}" lines)
list(GET lines 0 first)
if(NOT first STREQUAL "[Desktop Entry]")
    fail("${desktop} starts with \"${first}\"")
endif()
foreach(line "Type=Application" "Name=Dazoroz" "Exec=dazoroz --data-folder" "Icon=dazoroz"
             "Categories=Network;")
    if(NOT line IN_LIST lines)
        fail("${desktop} lacks the line ${line}")
    endif()
endforeach()
find_program(validate desktop-file-validate)
if(validate)
    execute_process(COMMAND "${validate}" "${desktop}" RESULT_VARIABLE result
                    OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        fail("desktop-file-validate ${desktop}:\n${output}")
    endif()
endif()

# The icon in both sizes: the pager picture itself.
foreach(size 48 256)
    set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/dazoroz.png")
    if(NOT EXISTS "${icon}")
        fail("no ${icon}")
    endif()
    file(SHA256 "${icon}" got)
    file(SHA256 "${SOURCE_DIR}/src/ui/pictures/dazoroz-${size}.png" want)
    if(NOT got STREQUAL want)
        fail("${icon} is not the ${size} pixel pager picture")
    endif()
endforeach()

# The manifest lists each of these files, and nothing outside the prefix (uninstalling by it
# removes only what was installed).
foreach(file bin/dazoroz bin/dazoroz-send sbin/dazoroz-snppd share/applications/dazoroz.desktop
             share/metainfo/example.zovizir.dazoroz.metainfo.xml
             share/icons/hicolor/48x48/apps/dazoroz.png
             share/icons/hicolor/256x256/apps/dazoroz.png share/man/man1/dazoroz.1.gz
             share/man/man1/dazoroz-send.1.gz share/man/man8/dazoroz-snppd.8.gz
             share/doc/dazoroz/copyright share/doc/dazoroz-send/copyright
             share/doc/dazoroz-snppd/copyright share/doc/dazoroz-send/monitoring.md)
    if(NOT "${PREFIX}/${file}" IN_LIST installed)
        fail("install_manifest.txt lacks ${PREFIX}/${file}")
    endif()
endforeach()
foreach(file IN LISTS installed)
    string(FIND "${file}" "${PREFIX}/" at)
    if(NOT at EQUAL 0)
        fail("install_manifest.txt lists ${file}, outside ${PREFIX}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
