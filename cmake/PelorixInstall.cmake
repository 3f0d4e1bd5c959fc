# Installation lays out the program directory: both programs, the control tool, the sample
# templates and the help page lie side by side, since the programs find Pelorix.ini, the log
# and the templates in the directory of their own program file. Only the programs are
# installed, never the tests or their tools.
#
# The program directory belongs to root and only root writes it: root runs these programs (the
# boot unit, the package's scripts). The files the group pelorix shares lie in the data
# directory, setgid and group-writable, and the program directory reaches them through
# symbolic links, so both programs find them where they expect them.
set(PELORIX_PROGRAM_DIR /opt/pelorix)
set(PELORIX_DATA_DIR /var/lib/pelorix/data)
set(PELORIX_SHARED_FILES Pelorix.ini Pelorix.log PelorixTmp.htm PelorTmp.htm)

set(link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_dir}/program ${link_dir}/bin)
foreach(shared IN LISTS PELORIX_SHARED_FILES)
    file(CREATE_LINK ${PELORIX_DATA_DIR}/${shared} ${link_dir}/program/${shared} SYMBOLIC)
    install(FILES ${link_dir}/program/${shared} DESTINATION ${PELORIX_PROGRAM_DIR})
endforeach()

foreach(program PelorixSvc PelorixMgr pelorix-sc)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${PELORIX_PROGRAM_DIR})
        # On PATH, as the help page's commands assume.
        file(CREATE_LINK ${PELORIX_PROGRAM_DIR}/${program} ${link_dir}/bin/${program} SYMBOLIC)
        install(FILES ${link_dir}/bin/${program} DESTINATION /usr/bin)
    endif()
endforeach()

install(FILES dist/Online.htm dist/Offline.htm dist/Pelorix.htm dist/LiesMich.htm
        DESTINATION ${PELORIX_PROGRAM_DIR})
if(TARGET PelorixMgr)
    install(FILES packaging/pelorix-mgr.desktop DESTINATION /usr/share/applications)
endif()
install(FILES packaging/pelorix-sc-boot.service DESTINATION /lib/systemd/system)

# The Debian package: "cpack -G DEB" in the build directory or the target "package".
# Its maintainer scripts create the system user and group pelorix and the data directory, move
# the shared files of an older installation there, share the service database with the group
# and enable the boot unit.
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
pelorix may use the manager; the service runs as the system user pelorix.")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries found in the programs: the manager's window needs a Qt platform
# plugin and shows Qt's standard buttons in German; the FTP upload loads libcurl only when it
# runs, so no program names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins, qt6-translations-l10n, libcurl4 (>= 7.85.0), libssh-4")
# The manager's "?" opens the help page in the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/preinst ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# /opt belongs to the system (base-files makes it), not to this package: the package's file
# list must not name it, or removing the package would remove an empty /opt.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/UnlistSystemDirs.cmake)
include(CPack)
