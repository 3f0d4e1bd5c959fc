# Installation lays out the program directory: both programs, the control tool, the sample
# templates and the help page lie side by side, since the programs find Pelorix.ini, the log
# and the templates in the directory of their own program file.
set(PELORIX_PROGRAM_DIR /opt/pelorix)

foreach(program PelorixSvc PelorixMgr pelorix-sc)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${PELORIX_PROGRAM_DIR})
    endif()
endforeach()

install(FILES dist/Online.htm dist/Offline.htm dist/Pelorix.htm dist/LiesMich.htm
        DESTINATION ${PELORIX_PROGRAM_DIR})
install(FILES packaging/pelorix-mgr.desktop DESTINATION /usr/share/applications)
if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/pelorix-sc-boot.service)
    install(FILES packaging/pelorix-sc-boot.service DESTINATION /lib/systemd/system)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorix)
set(CPACK_PACKAGE_VENDOR "Pelorix")
set(CPACK_PACKAGE_CONTACT "Pelorix <pelorix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Publishes the changing public IPv4 address of this computer")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
