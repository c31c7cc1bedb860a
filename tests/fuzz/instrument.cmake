# The fuzz build instruments every target of the project: coverage feedback for libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer. The libraries take the sanitizer runtime as a
# shared library (they link with --no-undefined and are loaded with dlopen), so that an edition,
# the simulator and the fuzz executable share one runtime.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "RIDEL_FUZZ needs clang and libFuzzer: use `cmake --preset fuzz`")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -shared-libsan)

# The shared runtime lies in clang's own folder, outside the loader's search path.
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so
  OUTPUT_VARIABLE ridel_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${ridel_asan_runtime}")
  message(FATAL_ERROR "the shared AddressSanitizer runtime is missing: install libclang-rt-14-dev")
endif()
get_filename_component(ridel_sanitizer_folder ${ridel_asan_runtime} DIRECTORY)
add_link_options(-Wl,-rpath,${ridel_sanitizer_folder})
