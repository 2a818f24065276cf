# What a user's machine gets besides the programs: manual pages, desktop metadata, the licence
# and documents; and the Debian packages of it all (cpack -G DEB; scripts/package.sh), one per
# install component:
#   window  dazoroz        the desktop program (Qt)
#   send    dazoroz-send   the command-line sender, without Qt: what a headless host needs
#   snppd   dazoroz-snppd  the local SNPP server (Qt), under sbin as its manual section 8 says
# Each package's documents (copyright, changelog, README) go to share/doc/<package>.
set(DAZOROZ_COMPONENT_PACKAGES window=dazoroz send=dazoroz-send snppd=dazoroz-snppd)

# The date of this version, for the manual pages, the desktop metadata and the changelog.
set(DAZOROZ_RELEASE_DATE "2026-12-08")
execute_process(COMMAND date -u -d "${DAZOROZ_RELEASE_DATE}" +%s
                OUTPUT_VARIABLE release_epoch OUTPUT_STRIP_TRAILING_WHITESPACE)

# Manual pages, written in scdoc (docs/man/*.scd): a 47 kB C program that Debian 12 ships with
# no dependencies, where pandoc would bring 170 MB of Haskell libraries for three pages. The
# pages are compressed as Debian wants them (gzip -9n: no name, no time stamp).
find_program(DAZOROZ_SCDOC scdoc)
find_program(DAZOROZ_GZIP gzip)
set(manual_pages window=dazoroz.1 send=dazoroz-send.1 snppd=dazoroz-snppd.8)
if(DAZOROZ_SCDOC AND DAZOROZ_GZIP)
    set(generated "")
    foreach(pair IN LISTS manual_pages)
        string(REPLACE "=" ";" pair "${pair}")
        list(GET pair 0 component)
        list(GET pair 1 page)
        string(REGEX MATCH "[0-9]$" section "${page}")
        set(source "${PROJECT_SOURCE_DIR}/docs/man/${page}.scd")
        set(output "${PROJECT_BINARY_DIR}/man/${page}.gz")
        add_custom_command(
            OUTPUT "${output}"
            COMMAND sed "s/@VERSION@/${PROJECT_VERSION}/" "${source}"
                    | ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch} ${DAZOROZ_SCDOC}
                    | ${DAZOROZ_GZIP} -9n > "${output}"
            DEPENDS "${source}"
            COMMENT "Manual page ${page}"
            VERBATIM)
        list(APPEND generated "${output}")
        install(FILES "${output}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}"
                COMPONENT ${component})
    endforeach()
    file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/man")
    add_custom_target(dazoroz_manual_pages ALL DEPENDS ${generated})
else()
    message(WARNING "scdoc or gzip not found: no manual pages (scripts/ensure-deps.sh installs "
                    "them)")
endif()

# The desktop metadata beside the launcher, named by the id from the company's web address.
set(metainfo "${PROJECT_BINARY_DIR}/example.zovizir.dazoroz.metainfo.xml")
configure_file("${PROJECT_SOURCE_DIR}/data/example.zovizir.dazoroz.metainfo.xml.in" "${metainfo}"
               @ONLY)
install(FILES "${metainfo}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT window)

# Debian's copyright file in its machine-readable format, with the licence text of LICENSE, the
# changelog and this README in each package's document folder, and the monitoring recipes beside
# dazoroz-send.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" licence "${licence}")
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " DAZOROZ_LICENCE_TEXT " ${licence}")
configure_file("${PROJECT_SOURCE_DIR}/data/copyright.in" "${PROJECT_BINARY_DIR}/copyright" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/data/changelog.in" "${PROJECT_BINARY_DIR}/changelog" @ONLY)
add_custom_command(
    OUTPUT "${PROJECT_BINARY_DIR}/changelog.gz"
    COMMAND ${DAZOROZ_GZIP} -9n < "${PROJECT_BINARY_DIR}/changelog"
            > "${PROJECT_BINARY_DIR}/changelog.gz"
    DEPENDS "${PROJECT_BINARY_DIR}/changelog"
    VERBATIM)
add_custom_target(dazoroz_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/changelog.gz")
foreach(pair IN LISTS DAZOROZ_COMPONENT_PACKAGES)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    set(docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}")
    install(FILES "${PROJECT_BINARY_DIR}/copyright" "${PROJECT_BINARY_DIR}/changelog.gz"
                  "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${docdir}" COMPONENT ${component})
endforeach()
install(FILES "${PROJECT_SOURCE_DIR}/docs/monitoring.md"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/dazoroz-send" COMPONENT send)

# The Debian packages: <package>_<version>_<architecture>.deb, all from one cpack run. Their
# dependencies come from the programs themselves (dpkg-shlibdeps); OpenSSL and SQLite, which the
# programs load only when TLS or the history is first used, are dependencies of the window's
# package and recommended by the others, so that a headless host gets dazoroz-send without Qt
# and, if it wants, without OpenSSL and SQLite.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window send snppd)
set(CPACK_PACKAGE_NAME dazoroz)
set(CPACK_PACKAGE_VENDOR "the Dazoroz authors")
set(CPACK_PACKAGE_CONTACT "Dazoroz authors <support@zovizir.example>")
# Each description's first line is its package's summary. CPack puts a common summary in front
# of each description, unless it is CPack's own default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(about
    "Dazoroz sends short text messages to pagers over SNPP (RFC 1861): the\n"
    "desktop program, a command-line sender and a small local SNPP server,\n"
    "each in a package of its own.\n"
    "\n")
string(JOIN "" CPACK_DEBIAN_WINDOW_DESCRIPTION
    "desktop paging client\n" ${about}
    "This package holds the desktop program: write a message, pick one pager\n"
    "number or check several names in the names list, press Send, and the\n"
    "page goes to the paging server.")
string(JOIN "" CPACK_DEBIAN_SEND_DESCRIPTION
    "command-line pager sender for scripts and monitoring systems\n" ${about}
    "This package holds dazoroz-send, which sends a page from the command\n"
    "line with the desktop program's send logic and settings. It needs no Qt\n"
    "and no display, so it suits headless monitoring hosts; recipes for\n"
    "monitoring systems are included.")
string(JOIN "" CPACK_DEBIAN_SNPPD_DESCRIPTION
    "small local SNPP server for trying out and testing paging clients\n" ${about}
    "This package holds dazoroz-snppd, which takes pages over SNPP and prints\n"
    "them, for a first page without a paging service and for tests; it can\n"
    "also misbehave on purpose.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.zovizir.example/")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE dazoroz)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME dazoroz)
set(CPACK_DEBIAN_SEND_PACKAGE_NAME dazoroz-send)
set(CPACK_DEBIAN_SNPPD_PACKAGE_NAME dazoroz-snppd)
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "libssl3 (>= 3.0.0), libsqlite3-0 (>= 3.35)")
# The font the windows were laid out for; without it they still work, in another face. The
# system's trusted CAs for TLS, when no CA file of one's own is given. The window's: the Secret
# Service client that QtKeychain loads to keep the login password in the desktop keyring
# (without it, in the settings file).
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "fonts-wine, ca-certificates, libsecret-1-0")
set(CPACK_DEBIAN_SEND_PACKAGE_RECOMMENDS "libssl3 (>= 3.0.0), ca-certificates, libsqlite3-0 (>= 3.35)")
set(CPACK_DEBIAN_SNPPD_PACKAGE_RECOMMENDS "libssl3 (>= 3.0.0)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
