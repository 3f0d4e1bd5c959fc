# Installation lays out the program directory: both programs, the control tool, the sample
# templates and the help page lie side by side, since the programs find Pelorix.ini, the log
# and the templates in the directory of their own program file. Only the programs are
# installed, never the tests or their tools.
set(PELORIX_PROGRAM_DIR /opt/pelorix)

foreach(program PelorixSvc PelorixMgr pelorix-sc)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${PELORIX_PROGRAM_DIR})
    endif()
endforeach()

install(FILES dist/Online.htm dist/Offline.htm dist/Pelorix.htm dist/LiesMich.htm
        DESTINATION ${PELORIX_PROGRAM_DIR})
if(TARGET PelorixMgr)
    install(FILES packaging/pelorix-mgr.desktop DESTINATION /usr/share/applications)
endif()
install(FILES packaging/pelorix-sc-boot.service DESTINATION /lib/systemd/system)

# The Debian package: "cpack -G DEB" in the build directory or the target "package".
# Its maintainer scripts create the group pelorix, share the program directory and the
# service database with it and enable the boot unit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorix)
set(CPACK_PACKAGE_VENDOR "Pelorix")
set(CPACK_PACKAGE_CONTACT "Pelorix <pelorix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Publishes the changing public IPv4 address of this computer")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The service PelorixSvc finds the public address every few ticks and, when it changed,\n\
fills it into an HTML page from a template, uploads the page by FTP, optionally fills\n\
it into further local documents and mails it. The Qt manager PelorixMgr edits the\n\
settings, controls the service and shows its status lines. Members of the group\n\
pelorix may use the manager.")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries found in the programs: the manager's window needs a Qt platform
# plugin and shows Qt's standard buttons in German; the FTP upload loads libcurl only when it
# runs, so no program names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins, qt6-translations-l10n, libcurl4 (>= 7.85.0)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
