# Helpers shared by the libraries' build files.

# Puts a target's outputs into <build>/<folder>, the layout the tests rely on.
function(ridel_output_folder target folder)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
endfunction()

# A stand-in for the reader's driver or decoder (the simulator, the recording driver): its file
# name and folder in the build, and its exports named as the real library's.
# Windows: no "lib" prefix, stdcall names undecorated on 32-bit. POSIX: calls inside the library
# stay inside it, even where another stand-in loaded into the same scope exports the same names,
# and the version script keeps everything but the entry points (and the C++ library's template
# instances) out of the exports.
#   ridel_stand_in(<target> <output name> <folder> <version script>)
function(ridel_stand_in target output_name folder script)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name})
  ridel_output_folder(${target} ${folder})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${target} PRIVATE -Wl,--kill-at)
    endif()
  else()
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--no-undefined
                        -Wl,--version-script=${script})
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
  endif()
endfunction()

# A header-only library of the host (nlohmann/json, Boost) for every build. CMake finds the host's
# copy, also for the MinGW builds, which search their own root otherwise; since those must not see
# the rest of the host's include folder, a folder of the build tree holds just a link to the
# library's own folder. Sets <out_var> to that folder, for target_include_directories.
#   ridel_host_headers(<out_var> <cache variable> <header, e.g. nlohmann/json.hpp> <package>)
function(ridel_host_headers out_var cache_var header package)
  find_path(${cache_var} ${header} NO_CMAKE_FIND_ROOT_PATH DOC "Folder holding ${header}")
  if(NOT ${cache_var})
    message(FATAL_ERROR "${header} not found: install ${package}, or set ${cache_var}")
  endif()
  string(REGEX REPLACE "/.*" "" top ${header})
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${top}-include)
  file(MAKE_DIRECTORY ${folder})
  file(CREATE_LINK ${${cache_var}}/${top} ${folder}/${top} SYMBOLIC)
  set(${out_var} ${folder} PARENT_SCOPE)
endfunction()

# Code that goes into the libraries: no exceptions and no guarded statics, so that nothing of the
# C++ runtime is needed (the libraries are linked without it, see ridel_library).
function(ridel_lean_code target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-threadsafe-statics>)
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Without exceptions nothing unwinds through this code; the unwind tables would only keep
    # every function alive for the linker (each table entry refers to its function).
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
endfunction()

# The .def file as this target uses it. The .def files give each stdcall name with its
# argument size ("OpenComm@4"), as 32-bit Windows decorates it; the DLL exports it undecorated
# (--kill-at) and its import libraries map the decorated name onto that export. Elsewhere the
# names have no decoration: the copy made here drops it.
function(ridel_target_def def out_var)
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out_var} ${def} PARENT_SCOPE)
    return()
  endif()
  get_filename_component(name ${def} NAME)
  get_filename_component(folder ${def} DIRECTORY)
  get_filename_component(folder ${folder} NAME)
  set(copy ${CMAKE_BINARY_DIR}/defs/${folder}/${name})
  file(READ ${def} text)
  string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
  file(WRITE ${copy} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  set(${out_var} ${copy} PARENT_SCOPE)
endfunction()

# A VERSIONINFO resource for a Windows library or program: the product, the project's version,
# a description. Does nothing on other platforms.
#   ridel_version_resource(<target> <description>)
function(ridel_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(RIDEL_FILE_TYPE VFT_APP)
    set(RIDEL_FILE_NAME "${name}.exe")
  else()
    set(RIDEL_FILE_TYPE VFT_DLL)
    set(RIDEL_FILE_NAME "${name}.dll")
  endif()
  set(RIDEL_DESCRIPTION "${description}")
  set(RIDEL_INTERNAL_NAME "${target}")
  set(version_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${version_rc} @ONLY)
  target_sources(${target} PRIVATE ${version_rc})
endfunction()

if(WIN32)
  # Makes the MSVC import libraries: the short import format, which MSVC's linker and lld-link
  # take with their default flags (/SAFESEH on x86), unlike the object files of binutils' dlltool.
  find_program(RIDEL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 PATHS /usr/lib/llvm-14/bin
               DOC "llvm-dlltool, for the MSVC import libraries" REQUIRED)
endif()

# Builds the shared library of an edition whose exports a .def file names; DESCRIPTION names the
# edition in the Windows version information.
# Windows: the .def file fixes names and ordinals; the MinGW import library (lib<name>.dll.a) and
# the MSVC one (<name>.lib) are made from the same .def. POSIX: a version script generated from the
# .def exports exactly those names; the library carries the project's version (lib<name>.so.1 ->
# lib<name>.so.1.1.0, and lib<name>.so for dlopen and the linker). Two editions that share a file
# name (ridel) have SONAMEs of their own (libridel-qdx.so.1, libridel-sdt.so.1), so that a program
# linked against one never takes the other.
# The release (cmake/release.cmake) makes the CMake package and pkg-config files of every edition.
function(ridel_library target)
  cmake_parse_arguments(ARG "" "DEF;OUTPUT_NAME;FOLDER;HEADER;DESCRIPTION" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  set_property(GLOBAL APPEND PROPERTY RIDEL_EDITIONS ${target})
  set_target_properties(${target} PROPERTIES RIDEL_FOLDER ${ARG_FOLDER}
                        RIDEL_LINK_NAME ${ARG_OUTPUT_NAME} RIDEL_DESCRIPTION "${ARG_DESCRIPTION}")
  ridel_output_folder(${target} ${ARG_FOLDER})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  ridel_lean_code(${target})
  # Linked without the C++ runtime: a use of it (a heap string, an exception, a guarded static)
  # fails the link instead of growing the library.
  if(WIN32)
    # Nor the C runtime's start-up code, whose thread-safe set-up imports the thread and lock
    # functions of KERNEL32 (and some that Windows XP lacks). The entry point is the edition's
    # own DllMain (platform/library_main.h); libgcc gives the stack probe and 64-bit division.
    # The system libraries go last on the link line, after the static libraries that the
    # edition's own file adds (hence deferred to the end of that file).
    target_link_options(${target} PRIVATE -nostdlib)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL target_link_libraries ${target} PRIVATE
                                             kernel32 user32 msvcrt gcc)")
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Linked by the C driver, which adds no C++ library.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  endif()
  get_filename_component(def ${ARG_DEF} ABSOLUTE)
  ridel_target_def(${def} def)
  set_target_properties(${target} PROPERTIES RIDEL_DEF ${def})
  # dist/<target>/<folder>/: the library, its import libraries, its .def and its public headers.
  install(FILES ${def} DESTINATION ${ARG_FOLDER})
  if(ARG_HEADER)
    # The edition's header includes the project's version header and the calling convention's:
    # all go beside the library.
    install(FILES ${ARG_HEADER} ${PROJECT_SOURCE_DIR}/include/ridel_version.h
            ${PROJECT_SOURCE_DIR}/include/ridel_winapi.h DESTINATION ${ARG_FOLDER})
  endif()
  if(WIN32)
    install(TARGETS ${target} RUNTIME DESTINATION ${ARG_FOLDER} ARCHIVE DESTINATION ${ARG_FOLDER})
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_sources(${target} PRIVATE ${def})
    ridel_version_resource(${target} "${ARG_DESCRIPTION}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${target} PRIVATE -Wl,--kill-at)
      set(machine i386)
    else()
      set(machine i386:x86-64)
    endif()
    # Both import libraries come from the .def, so that a caller's decorated stdcall names
    # (_OpenComm@4) find the undecorated exports (kill-at); the linker's own would list them
    # undecorated. The MinGW one names its members after the library, not after the build path.
    set(msvc_lib ${CMAKE_BINARY_DIR}/${ARG_FOLDER}/${ARG_OUTPUT_NAME}.lib)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} --kill-at --temp-prefix ${ARG_OUTPUT_NAME} -d ${def}
              -l $<TARGET_LINKER_FILE:${target}>
      COMMAND ${RIDEL_LLVM_DLLTOOL} -m ${machine} --kill-at -d ${def} -l ${msvc_lib}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      BYPRODUCTS ${msvc_lib} VERBATIM)
    install(FILES ${msvc_lib} DESTINATION ${ARG_FOLDER})
  else()
    set(name ${ARG_OUTPUT_NAME})
    if(NOT name STREQUAL target)
      set(name ${ARG_OUTPUT_NAME}-${target})
    endif()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
                          VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    if(name STREQUAL ARG_OUTPUT_NAME)
      install(TARGETS ${target} LIBRARY DESTINATION ${ARG_FOLDER})
    else()
      # lib<output name>.so, the file the applications, idcard and the tests load, and the name
      # -l<output name> finds, points at the versioned library.
      set(link ${CMAKE_BINARY_DIR}/${ARG_FOLDER}/lib${ARG_OUTPUT_NAME}.so)
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_SONAME_FILE_NAME:${target}> ${link}
        BYPRODUCTS ${link} VERBATIM)
      install(TARGETS ${target} LIBRARY DESTINATION ${ARG_FOLDER} NAMELINK_SKIP)
      install(FILES ${link} DESTINATION ${ARG_FOLDER})
    endif()
    file(STRINGS ${def} lines)
    set(names "")
    set(in_exports FALSE)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(line MATCHES "^EXPORTS")
        set(in_exports TRUE)
      elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
        string(APPEND names "    ${CMAKE_MATCH_1};\n")
      endif()
    endforeach()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(WRITE ${script} "{\n  global:\n${names}  local: *;\n};\n")
    # -Bsymbolic: the library's own calls (an alias calling its export) stay inside it, as on
    # Windows, never captured by a name of the application or of another global library.
    target_link_options(${target} PRIVATE -Wl,--version-script=${script} -Wl,--no-undefined
                        -Wl,-Bsymbolic)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
  endif()
endfunction()

# Makes an import library for a library of the outside contract from its .def file, so that a
# Windows edition links against the contract, never against another project's build.
# 32-bit: the "@N" of each name gives the stdcall decoration and the DLL's export stays
# undecorated (--kill-at); 64-bit has no decoration.
function(ridel_import_library target def)
  get_filename_component(stem ${def} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/lib${stem}.contract.a)
  ridel_target_def(${def} def_used)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${def_used} -l ${out}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_generate DEPENDS ${out})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_generate)
  target_link_libraries(${target} INTERFACE ${out})
endfunction()
