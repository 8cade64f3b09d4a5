# find_package(Tessel) for a project that packages itself as a setup.exe: sets CPack's External
# generator to stage the install tree and run TesselSetup.cmake beside this file, which builds
# the setup with ffspack. Include it before include(CPack); then `cpack -G External`.
# Installed with ffspack in share/tessel/cmake/, where find_package finds it from the prefix.
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/TesselSetup.cmake")
