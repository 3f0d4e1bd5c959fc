# The tests of the Windows build run on this machine under Wine. GoogleTest and GoogleMock are
# built from Debian's sources by the cross compiler (no installed package carries them for
# mingw-w64), giving the GTest::gtest and GTest::gmock targets the Linux build finds installed.
# PELORIX_WINE_RUN is the runner ctest puts in front of every test program: it keeps a Wine
# prefix of its own in the build tree.
set(PELORIX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(INSTALL_GTEST OFF)
set(BUILD_GMOCK ON)
add_subdirectory(${PELORIX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Not our code: its warnings under our flags are not ours to fix.
foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
endforeach()

set(PELORIX_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wine-prefix)
