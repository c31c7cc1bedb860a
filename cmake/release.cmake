# The release: the documents beside the libraries, the CMake package and the pkg-config files of
# the editions, and the archives made from the installed tree by CPack (`make release`).
# dist/<target>/ holds the same tree as the archive of its target.

# The target's name in dist/ and in the archives' names: windows-x86, windows-x64, linux-x86_64.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(RIDEL_TARGET_NAME windows-x86)
  else()
    set(RIDEL_TARGET_NAME windows-x64)
  endif()
else()
  set(RIDEL_TARGET_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()

# The archive's own README (release/README.md, the paths as they are in the unpacked archive);
# the source tree's README is for building.
configure_file(release/README.md release/README.md @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/release/README.md LICENSE CHANGELOG.md DESTINATION .)
# The README points to it.
install(FILES simulator/PROFILE.md DESTINATION simulator)

# The examples, run from the unpacked archive as its README says, and a CMake project that builds
# the C one through the package.
install(FILES examples/read_card.c examples/read_card.py examples/ReadCard.cs examples/ReadCard.java
              release/examples/CMakeLists.txt
        DESTINATION examples)

# The JavaScript client as an npm package (ridel-card-<version>.tgz), made offline; in client/ of
# the archive with its README, and a release file of its own (`make release`).
find_program(RIDEL_NPM npm DOC "npm, which packs the JavaScript client")
if(NOT RIDEL_NPM)
  message(FATAL_ERROR "npm not found (it packs the JavaScript client for the release): install "
                      "npm (scripts/install-deps.sh), or set RIDEL_NPM")
endif()
set(client ${PROJECT_SOURCE_DIR}/tools/client)
set(RIDEL_CLIENT_PACKAGE ${CMAKE_BINARY_DIR}/client/ridel-card-${PROJECT_VERSION}.tgz)
add_custom_command(OUTPUT ${RIDEL_CLIENT_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -DCLIENT=${client} -DLICENSE_FILE=${PROJECT_SOURCE_DIR}/LICENSE
          -DVERSION=${PROJECT_VERSION} -DSTAGE=${CMAKE_BINARY_DIR}/client/stage
          -DOUTPUT=${CMAKE_BINARY_DIR}/client -DNPM=${RIDEL_NPM}
          -P ${PROJECT_SOURCE_DIR}/release/client-package.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/release/client-package.cmake ${client}/package.json
          ${client}/index.js ${client}/index.d.ts ${client}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  VERBATIM)
add_custom_target(client_package ALL DEPENDS ${RIDEL_CLIENT_PACKAGE})
install(FILES ${RIDEL_CLIENT_PACKAGE} ${client}/README.md DESTINATION client)

# One line per edition for the CMake package, and on Linux a pkg-config file per edition.
# An edition linked against the reader's driver (the SDT edition, on Linux against the simulated
# reader's shared objects) needs the driver's folder when a program is linked against it.
get_property(editions GLOBAL PROPERTY RIDEL_EDITIONS)
set(RIDEL_PACKAGE_EDITIONS "")
foreach(edition IN LISTS editions)
  get_target_property(folder ${edition} RIDEL_FOLDER)
  get_target_property(RIDEL_LINK_NAME ${edition} RIDEL_LINK_NAME)
  get_target_property(RIDEL_DESCRIPTION ${edition} RIDEL_DESCRIPTION)
  get_target_property(links ${edition} LINK_LIBRARIES)
  set(linked_to_driver FALSE)
  if(sim_sdtapi IN_LIST links)
    set(linked_to_driver TRUE)
  endif()
  # The names an application finds the edition by: on Windows the DLL name of its .def file (the
  # vantrel edition's vantrel.dll is deployed as ridel.dll), both when linked and when loaded; on
  # Linux its SONAME when linked, lib<name>.so when loaded by name.
  if(WIN32)
    get_target_property(def ${edition} RIDEL_DEF)
    file(STRINGS ${def} library_line REGEX "^LIBRARY ")
    string(REGEX REPLACE "^LIBRARY +([^ ]+).*" "\\1" deployed "${library_line}")
    set(loaded ${deployed})
  else()
    set(deployed "$<TARGET_SONAME_FILE_NAME:${edition}>")
    set(loaded lib${RIDEL_LINK_NAME}.so)
  endif()
  string(APPEND RIDEL_PACKAGE_EDITIONS "_ridel_edition(${edition} ${folder} "
         "\"$<TARGET_FILE_NAME:${edition}>\" \"${deployed}\" ${loaded} ${linked_to_driver})\n")
  if(NOT WIN32)
    set(RIDEL_PC_NAME ridel-${edition})
    set(RIDEL_PC_FOLDER ${folder})
    set(RIDEL_PC_DRIVER "")
    if(linked_to_driver)
      set(RIDEL_PC_DRIVER " -Wl,-rpath-link,\${driverdir}")
    endif()
    configure_file(cmake/ridel.pc.in pkgconfig/ridel-${edition}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/ridel-${edition}.pc
            DESTINATION lib/pkgconfig)
  endif()
endforeach()
# The simulated reader's files, which ridel_deploy(... SIMULATOR) puts beside a program.
set(RIDEL_PACKAGE_SIMULATOR "")
foreach(stand_in sim_sdtapi sim_stdapi sim_wltrs)
  string(APPEND RIDEL_PACKAGE_SIMULATOR " \"$<TARGET_FILE_NAME:${stand_in}>\"")
endforeach()
configure_file(cmake/ridel-config.cmake.in cmake-package/ridel-config.cmake.in @ONLY)
file(GENERATE OUTPUT cmake-package/ridel-config.cmake
     INPUT ${CMAKE_CURRENT_BINARY_DIR}/cmake-package/ridel-config.cmake.in)
include(CMakePackageConfigHelpers)
# A 32-bit release serves 32-bit builds only, and the other way round.
set(package ${CMAKE_CURRENT_BINARY_DIR}/cmake-package)
write_basic_package_version_file(${package}/version-basic.cmake COMPATIBILITY SameMajorVersion)
file(READ ${package}/version-basic.cmake version_check)
# A Linux release serves builds for its own processor only: the aarch64 package is refused by an
# x86-64 build (whose linker would fail on the files' format), and the other way round.
if(NOT WIN32)
  configure_file(cmake/ridel-config-processor.cmake.in ${package}/processor.cmake @ONLY)
  file(READ ${package}/processor.cmake processor_check)
  string(APPEND version_check "${processor_check}")
endif()
file(WRITE ${package}/ridel-config-version.cmake "${version_check}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cmake-package/ridel-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/cmake-package/ridel-config-version.cmake
        DESTINATION lib/cmake/ridel)

# Windows: the installer for desks, ridel-<version>-<target>.msi (release/msi/), made from this
# build's installed tree by `cmake --build <build> --target msi` (`make release`).
if(WIN32)
  string(REGEX REPLACE "^windows-" "" msi_arch ${RIDEL_TARGET_NAME})
  set(msi_folder ${CMAKE_BINARY_DIR}/msi)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${msi_folder}/stage
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${msi_folder}/stage
    COMMAND ${PROJECT_SOURCE_DIR}/release/msi/make-msi.sh ${msi_folder}/stage ${msi_arch}
            ${PROJECT_VERSION} ${msi_folder}/ridel-${PROJECT_VERSION}-${RIDEL_TARGET_NAME}.msi
    VERBATIM)
  add_dependencies(msi idcard client_package)
endif()

# The archives: ridel-<version>-<target>.zip for Windows, .tar.gz and a .deb (installed into
# /opt/ridel, cmake/cpack-options.cmake) for Linux. `make release` adds SHA256SUMS.
set(CPACK_PACKAGE_NAME ridel)
set(CPACK_PACKAGE_VENDOR ridel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Interface libraries for identity card readers, a simulated reader and the host program idcard")
set(CPACK_PACKAGE_FILE_NAME ridel-${PROJECT_VERSION}-${RIDEL_TARGET_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-options.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ridel developers <ridel@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The oldest C library the shipped files load with, and libgcc_s's unwinder (the C++ runtime is
  # linked in: cmake/glibc-floor.cmake; tests/audit measures both).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.17), libgcc-s1")
  if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
endif()
include(CPack)
