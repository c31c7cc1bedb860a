# What ships for Linux loads on the C libraries of old long-term-support desktops: the libraries
# need glibc 2.17 at most, idcard 2.28 at most, whatever glibc builds them (the audit measures it).
#
# glibc 2.34 moved the dl* and pthread functions from libdl and libpthread into libc, at new
# versions; libc keeps the old versions for old programs. The link binds to the old versions, in
# the libraries that held them: a link-time copy of libdl.so.2 and libpthread.so.0 that only
# declares those functions at their old versions (built here, never loaded: the system's copy is
# what runs). A program linked so looks as if linked against the old glibc, and finds the functions
# in libdl/libpthread there and in libc here.
#
#   ridel_glibc_floor_libraries(<out_var> <dl|pthread>...): the link items binding the dl* (and
#   pthread) functions to their old versions (for target_link_libraries).
#   ridel_static_cxx_runtime(<target>): links the C++ runtime into <target>, which then needs no
#   libstdc++ of the desk's system.
#   ridel_old_program_start(<target>): a program's start that old C libraries can run.

# The old version of each function on this architecture: aarch64 starts at GLIBC_2.17.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(_floor_base GLIBC_2.17)
  set(_floor_dlinfo GLIBC_2.17)
  set(_floor_cond GLIBC_2.17)
  set(_floor_clock GLIBC_2.17)
else()
  set(_floor_base GLIBC_2.2.5)
  set(_floor_dlinfo GLIBC_2.3.3)
  set(_floor_cond GLIBC_2.3.2)
  set(_floor_clock GLIBC_2.3.3)
endif()

# <soname> <version script> <functions...>: a link-time stand-in for a library of the old glibc.
function(_ridel_glibc_stub out_var soname script)
  set(folder ${CMAKE_BINARY_DIR}/glibc-floor)
  set(source ${folder}/${soname}.c)
  set(text "/* Link-time stand-in: declares these functions at their old glibc versions. */\n")
  foreach(fn IN LISTS ARGN)
    string(APPEND text "void ${fn}(void);\nvoid ${fn}(void) {}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${source} CONTENT "${text}")
  file(CONFIGURE OUTPUT ${folder}/${soname}.map CONTENT "${script}")
  add_custom_command(OUTPUT ${folder}/${soname}
    COMMAND ${CMAKE_C_COMPILER} -shared -fPIC -nostdlib -Wl,-soname,${soname}
            -Wl,--version-script,${folder}/${soname}.map -o ${folder}/${soname} ${source}
    DEPENDS ${source} ${folder}/${soname}.map VERBATIM)
  set(${out_var} ${folder}/${soname} PARENT_SCOPE)
endfunction()

function(ridel_glibc_floor_libraries out_var)
  set(wanted ${ARGN})
  if(NOT TARGET glibc_floor_stubs)
    set(dl dlopen dlsym dlclose dladdr dlerror)
    list(JOIN dl "; " dl_list)
    if(_floor_dlinfo STREQUAL _floor_base)
      set(dl_script "${_floor_base} { global: ${dl_list}; dlinfo; local: *; };\n")
    else()
      set(dl_script "${_floor_base} { global: ${dl_list}; local: *; };\n")
      string(APPEND dl_script "${_floor_dlinfo} { global: dlinfo; } ${_floor_base};\n")
    endif()
    _ridel_glibc_stub(libdl libdl.so.2 "${dl_script}" ${dl} dlinfo)
    set(pthread __pthread_key_create pthread_create pthread_join pthread_detach pthread_once pthread_key_create
        pthread_key_delete pthread_getspecific pthread_setspecific pthread_sigmask pthread_kill
        pthread_mutexattr_init pthread_mutexattr_settype pthread_mutexattr_destroy
        pthread_attr_init pthread_attr_destroy pthread_attr_setstacksize)
    set(cond pthread_cond_init pthread_cond_destroy pthread_cond_wait pthread_cond_timedwait
        pthread_cond_signal pthread_cond_broadcast)
    set(clock pthread_condattr_setclock)
    # One version node per distinct old version, each inheriting the base one.
    set(pthread_script "${_floor_base} { global: ${pthread}; local: *; };\n")
    foreach(group cond clock)
      if(_floor_${group} STREQUAL _floor_base)
        string(REPLACE "global: " "global: ${${group}}; " pthread_script "${pthread_script}")
      else()
        string(APPEND pthread_script "${_floor_${group}} { global: ${${group}}; } ${_floor_base};\n")
      endif()
    endforeach()
    string(REPLACE ";" "; " pthread_script "${pthread_script}")
    _ridel_glibc_stub(libpthread libpthread.so.0 "${pthread_script}" ${pthread} ${cond} ${clock})
    add_custom_target(glibc_floor_stubs DEPENDS ${libdl} ${libpthread})
    set_property(GLOBAL PROPERTY RIDEL_GLIBC_STUB_dl ${libdl})
    set_property(GLOBAL PROPERTY RIDEL_GLIBC_STUB_pthread ${libpthread})
  endif()
  set(stubs "")
  foreach(name IN LISTS wanted)
    get_property(stub GLOBAL PROPERTY RIDEL_GLIBC_STUB_${name})
    list(APPEND stubs ${stub})
  endforeach()
  # Given to the linker as files, not as libraries: CMake then adds no run path to their folder.
  # Kept in NEEDED even where the compiler links --as-needed: the old glibc has them there.
  list(JOIN stubs "," files)
  set(${out_var} "-Wl,--push-state,--no-as-needed,${files},--pop-state" PARENT_SCOPE)
endfunction()

# The C++ runtime linked into the target, which then needs no libstdc++ of the desk's system; its
# symbols stay inside (the libraries' version scripts export only their entry points). The
# unwinder stays libgcc_s's, which every system has (the static one needs glibc 2.35). What the
# runtime asks of a new glibc comes from cmake/glibc-floor/runtime.c, and its weak references to
# the thread functions bind to libpthread's old versions.
function(ridel_static_cxx_runtime target)
  target_link_options(${target} PRIVATE -static-libstdc++)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/glibc-floor/runtime.c)
  ridel_glibc_floor_libraries(threads pthread)
  target_link_libraries(${target} PRIVATE ${threads})
endfunction()

# A program's start at the old __libc_start_main (cmake/glibc-floor/start_main.c).
function(ridel_old_program_start target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/glibc-floor/start_main.c)
  target_link_options(${target} PRIVATE -Wl,--wrap=__libc_start_main)
endfunction()
