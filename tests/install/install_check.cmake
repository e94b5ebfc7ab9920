# Installs the build tree into a fresh prefix and checks that the programs and
# their documents are there, and nothing of the tests or benchmarks is.
# -DBUILD_DIR=... -DPREFIX=... -DEXE_SUFFIX=...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()
include(GNUInstallDirs)
set(expected
  ${CMAKE_INSTALL_BINDIR}/${AGENT_NAME}${EXE_SUFFIX}
  ${CMAKE_INSTALL_BINDIR}/tallowick-collector${EXE_SUFFIX}
  share/doc/tallowick/LICENSE
  share/doc/tallowick/README.md
  share/doc/tallowick/CHANGELOG.md
  share/doc/tallowick/messages.md)
foreach(file IN LISTS expected)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}\n${output}")
  endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
foreach(file IN LISTS installed)
  if(file MATCHES "_tests|_bench|harness|gtest|benchmark")
    message(FATAL_ERROR "installed what is not the release's: ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
list(LENGTH installed count)
message(STATUS "installed ${count} files")
