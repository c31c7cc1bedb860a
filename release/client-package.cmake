# Makes the JavaScript client's npm package, offline: the client's files with the project's
# LICENSE, and its manifest with the project's version (the manifest in the source tree has none).
#   cmake -DCLIENT=<tools/client> -DLICENSE_FILE=<LICENSE> -DVERSION=<x.y.z> -DSTAGE=<folder>
#         -DOUTPUT=<folder> -DNPM=<npm> -P release/client-package.cmake
# Leaves <OUTPUT>/ridel-card-<VERSION>.tgz.
cmake_policy(VERSION 3.25)
foreach(variable CLIENT LICENSE_FILE VERSION STAGE OUTPUT NPM)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "client-package: ${variable} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE} ${OUTPUT})
file(READ ${CLIENT}/package.json manifest)
string(JSON name GET "${manifest}" name)
string(JSON manifest SET "${manifest}" version "\"${VERSION}\"")
string(JSON count LENGTH "${manifest}" files)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON file GET "${manifest}" files ${index})
  if(file STREQUAL "LICENSE")
    file(COPY ${LICENSE_FILE} DESTINATION ${STAGE})
  else()
    file(COPY ${CLIENT}/${file} DESTINATION ${STAGE})
  endif()
endforeach()
file(WRITE ${STAGE}/package.json "${manifest}\n")
set(tarball ${OUTPUT}/${name}-${VERSION}.tgz)
file(REMOVE ${tarball})
execute_process(COMMAND ${NPM} pack --offline --silent --pack-destination ${OUTPUT}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT EXISTS ${tarball})
  message(FATAL_ERROR "client-package: npm pack failed (${result}): ${out}")
endif()
