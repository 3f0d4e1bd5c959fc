# Installation lays out the program directory: both programs, the control tool, the sample
# templates and the help page lie side by side, since the programs find Pelorix.ini, the log
# and the templates in the directory of their own program file. Only the programs are
# installed, never the tests or their tools.
#
# The program directory belongs to root and only root writes it: root runs these programs (the
# package's scripts), and systemd runs the service from it. The files the group pelorix shares lie in the data
# directory, setgid and group-writable, and the program directory reaches them through
# symbolic links, so both programs find them where they expect them.
set(PELORIX_PROGRAM_DIR /opt/pelorix)
set(PELORIX_DATA_DIR /var/lib/pelorix/data)
set(PELORIX_SHARED_FILES Pelorix.ini Pelorix.log PelorixTmp.htm PelorTmp.htm)

set(link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_dir}/program ${link_dir}/bin)
#
# Two components, one package each: "service" (the service, pelorix-sc, templates, help page,
# the systemd unit and the polkit rule; no Qt) and "manager" (the Qt manager and its menu entry).
foreach(shared IN LISTS PELORIX_SHARED_FILES)
    file(CREATE_LINK ${PELORIX_DATA_DIR}/${shared} ${link_dir}/program/${shared} SYMBOLIC)
    install(FILES ${link_dir}/program/${shared} DESTINATION ${PELORIX_PROGRAM_DIR} COMPONENT service)
endforeach()

foreach(program PelorixSvc PelorixMgr pelorix-sc)
    if(TARGET ${program})
        if(program STREQUAL PelorixMgr)
            set(component manager)
        else()
            set(component service)
        endif()
        install(TARGETS ${program} RUNTIME DESTINATION ${PELORIX_PROGRAM_DIR} COMPONENT ${component})
        # On PATH, as the help page's commands assume.
        file(CREATE_LINK ${PELORIX_PROGRAM_DIR}/${program} ${link_dir}/bin/${program} SYMBOLIC)
        install(FILES ${link_dir}/bin/${program} DESTINATION /usr/bin COMPONENT ${component})
    endif()
endforeach()

install(FILES dist/Online.htm dist/Offline.htm dist/Pelorix.htm dist/LiesMich.htm
        DESTINATION ${PELORIX_PROGRAM_DIR} COMPONENT service)
if(TARGET PelorixMgr)
    install(FILES packaging/pelorix-mgr.desktop DESTINATION /usr/share/applications COMPONENT manager)
endif()
install(FILES packaging/pelorix.service DESTINATION /lib/systemd/system COMPONENT service)
install(FILES packaging/pelorix.rules DESTINATION /usr/share/polkit-1/rules.d RENAME 50-pelorix.rules
        COMPONENT service)

# The Debian packages: "cpack -G DEB" in the build directory or the target "package" makes
# pelorix_VERSION_ARCH.deb and pelorix-manager_VERSION_ARCH.deb. The service package's
# maintainer scripts create the system user and group pelorix and the data directory, move the
# shared files of an older installation there, share the service database with the group and
# turn a service registered for automatic start into the enabled unit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorix)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL service)
if(TARGET PelorixMgr)
    list(APPEND CPACK_COMPONENTS_ALL manager)
endif()
set(CPACK_COMPONENT_MANAGER_DEPENDS service)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME pelorix)
set(CPACK_DEBIAN_MANAGER_PACKAGE_NAME pelorix-manager)
set(CPACK_PACKAGE_VENDOR "Pelorix")
set(CPACK_PACKAGE_CONTACT "Pelorix <pelorix@localhost>")
# The first line of each is the package's summary (so no common summary is set).
set(CPACK_DEBIAN_SERVICE_DESCRIPTION
    "Publishes the changing public IPv4 address of this computer\n\
The service PelorixSvc finds the public address every few ticks and, when it changed,\n\
fills it into an HTML page from a template, uploads the page by FTP, optionally fills\n\
it into further local documents and mails it. It runs as the systemd unit\n\
pelorix.service under the system user pelorix; members of the group pelorix control\n\
it with pelorix-sc. The manager is the package pelorix-manager.")
set(CPACK_DEBIAN_MANAGER_DESCRIPTION
    "Manager for the Pelorix publisher\n\
The Qt manager PelorixMgr edits the settings of the Pelorix publisher, controls the\n\
service and shows its status lines. Members of the group pelorix may use it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_MANAGER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries found in the programs: the FTP upload loads libcurl only when it runs,
# and the service control loads libsystemd only when it talks to systemd, so no program names
# them; polkit lets the group's members control the unit. The manager's window needs a Qt
# platform plugin and shows Qt's standard buttons in German, and its "?" opens the help page in
# the desktop's browser through xdg-open; it took over the manager's files from the single
# package of earlier versions.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser, libcurl4 (>= 7.85.0), libssh-4, libsystemd0")
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS "polkitd")
set(CPACK_DEBIAN_MANAGER_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_MANAGER_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_MANAGER_PACKAGE_REPLACES "pelorix (<< 1.2.0)")
set(CPACK_DEBIAN_MANAGER_PACKAGE_BREAKS "pelorix (<< 1.2.0)")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/preinst ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# /opt belongs to the system (base-files makes it), not to this package: the package's file
# list must not name it, or removing the package would remove an empty /opt.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/UnlistSystemDirs.cmake)
include(CPack)
