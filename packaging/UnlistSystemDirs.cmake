# Run by CPack after it built the Debian package: drops the entry of the directory /opt from the
# package's data archive (what lies below it stays), so that dpkg neither lists nor removes it.
# Needs ar (binutils), GNU tar and the archive's compressor.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    set(work ${deb}.unlist)
    file(REMOVE_RECURSE ${work})
    file(MAKE_DIRECTORY ${work})
    execute_process(COMMAND ar t ${deb} OUTPUT_VARIABLE members OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCH "data\\.tar[^\n]*" data "${members}")
    string(REGEX MATCH "[^.]+$" compression "${data}")
    set(filters gz gzip xz xz zst zstd)
    list(FIND filters ${compression} at)
    if(data STREQUAL "" OR at LESS 0)
        message(FATAL_ERROR "${deb}: no data archive to adjust (${members})")
    endif()
    math(EXPR at "${at} + 1")
    list(GET filters ${at} tool)
    execute_process(COMMAND ar x ${deb} ${data} WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${tool} -d -f ${data} WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
    # Unpacked and packed again in the same order without that entry ("tar --delete" loses
    # entries after the deleted one); owners are root whoever builds.
    execute_process(COMMAND tar -tf data.tar OUTPUT_FILE ${work}/all WORKING_DIRECTORY ${work}
                    COMMAND_ERROR_IS_FATAL ANY)
    file(STRINGS ${work}/all entries)
    list(REMOVE_ITEM entries "./opt/")
    list(JOIN entries "\n" kept)
    file(WRITE ${work}/kept "${kept}\n")
    file(MAKE_DIRECTORY ${work}/tree)
    execute_process(COMMAND tar -xpf ../data.tar WORKING_DIRECTORY ${work}/tree COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND tar -cf ../data.tar --format=gnu --no-recursion --owner=0 --group=0 --numeric-owner
                            -T ../kept
                    WORKING_DIRECTORY ${work}/tree COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${tool} -f data.tar WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
    # "ar r" replaces the member where it stands: dpkg wants debian-binary, control, data in order.
    execute_process(COMMAND ar r ${deb} ${data} WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${work})
endforeach()
