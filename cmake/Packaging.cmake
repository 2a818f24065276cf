# What a user's machine gets besides the programs: manual pages, desktop metadata, the licence
# and documents; and the Debian package of it all (cpack -G DEB; scripts/package.sh).

# The date of this version, for the manual pages, the desktop metadata and the changelog.
set(DAZOROZ_RELEASE_DATE "2026-12-08")
execute_process(COMMAND date -u -d "${DAZOROZ_RELEASE_DATE}" +%s
                OUTPUT_VARIABLE release_epoch OUTPUT_STRIP_TRAILING_WHITESPACE)

# Manual pages, written in scdoc (docs/man/*.scd): a 47 kB C program that Debian 12 ships with
# no dependencies, where pandoc would bring 170 MB of Haskell libraries for three pages. The
# pages are compressed as Debian wants them (gzip -9n: no name, no time stamp).
find_program(DAZOROZ_SCDOC scdoc)
find_program(DAZOROZ_GZIP gzip)
set(manual_pages dazoroz.1 dazoroz-send.1 dazoroz-snppd.8)
if(DAZOROZ_SCDOC AND DAZOROZ_GZIP)
    set(generated "")
    foreach(page IN LISTS manual_pages)
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
        install(FILES "${output}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
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
install(FILES "${metainfo}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# Debian's copyright file in its machine-readable format, with the licence text of LICENSE; the
# changelog, the README and the monitoring recipes.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" licence "${licence}")
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " DAZOROZ_LICENCE_TEXT " ${licence}")
configure_file("${PROJECT_SOURCE_DIR}/data/copyright.in" "${PROJECT_BINARY_DIR}/copyright" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
configure_file("${PROJECT_SOURCE_DIR}/data/changelog.in" "${PROJECT_BINARY_DIR}/changelog" @ONLY)
add_custom_command(
    OUTPUT "${PROJECT_BINARY_DIR}/changelog.gz"
    COMMAND ${DAZOROZ_GZIP} -9n < "${PROJECT_BINARY_DIR}/changelog"
            > "${PROJECT_BINARY_DIR}/changelog.gz"
    DEPENDS "${PROJECT_BINARY_DIR}/changelog"
    VERBATIM)
add_custom_target(dazoroz_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/changelog.gz")
install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" "${PROJECT_SOURCE_DIR}/README.md"
              "${PROJECT_SOURCE_DIR}/docs/monitoring.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# The Debian package: dazoroz_<version>_<architecture>.deb. Its dependencies come from the
# programs themselves (dpkg-shlibdeps), and OpenSSL's, which they load when TLS is first used.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dazoroz)
set(CPACK_PACKAGE_VENDOR "the Dazoroz authors")
set(CPACK_PACKAGE_CONTACT "Dazoroz authors <support@zovizir.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop paging client and SNPP tools")
set(CPACK_PACKAGE_DESCRIPTION
    "Dazoroz sends short text messages to pagers: write a message, pick one pager\n"
    "number or check several names in the names list, press Send, and the page goes\n"
    "to a paging server over SNPP (RFC 1861).\n"
    "\n"
    "The package holds the desktop program (dazoroz), a command-line sender for\n"
    "scripts and monitoring systems (dazoroz-send), and a small local SNPP server\n"
    "for trying it out and for tests (dazoroz-snppd).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.zovizir.example/")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3 (>= 3.0.0)")
# The font the windows were laid out for; without it they still work, in another face. The
# system's trusted CAs for TLS, when no CA file of one's own is given. The Secret Service client
# that QtKeychain loads to keep the login password in the desktop keyring (without it, in the
# settings file).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, ca-certificates, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
