# Helpers shared by the libraries' build files.

# Puts a target's outputs into <build>/<folder>, the layout the tests rely on.
function(ridel_output_folder target folder)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
endfunction()

# Builds the shared library of an edition (or the simulator) whose exports a .def file names.
# Windows: the .def file fixes names and ordinals; stdcall names are matched undecorated.
# POSIX: a version script generated from the same .def exports exactly those names.
function(ridel_library target)
  cmake_parse_arguments(ARG "" "DEF;OUTPUT_NAME;FOLDER;HEADER" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  ridel_output_folder(${target} ${ARG_FOLDER})
  # dist/<target>/<folder>/: the library, its import library, its .def and its public header.
  install(TARGETS ${target} RUNTIME DESTINATION ${ARG_FOLDER} LIBRARY DESTINATION ${ARG_FOLDER}
          ARCHIVE DESTINATION ${ARG_FOLDER})
  install(FILES ${ARG_DEF} DESTINATION ${ARG_FOLDER})
  if(ARG_HEADER)
    install(FILES ${ARG_HEADER} DESTINATION ${ARG_FOLDER})
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_sources(${target} PRIVATE ${ARG_DEF})
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  else()
    file(STRINGS ${ARG_DEF} lines)
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
    target_link_options(${target} PRIVATE -Wl,--version-script=${script} -Wl,--no-undefined)
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
  set(def_used ${def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    set(def_used ${CMAKE_CURRENT_BINARY_DIR}/${stem}.x64.def)
    file(WRITE ${def_used} "${text}")
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${def_used} -l ${out}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_generate DEPENDS ${out})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_generate)
  target_link_libraries(${target} INTERFACE ${out})
endfunction()
