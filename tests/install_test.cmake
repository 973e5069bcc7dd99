# Installs the build into a scratch prefix and checks the tree: the executable, which tells the
# version, the man page of the same version, and the documents.
#   cmake -DBUILD_DIR=... -DVERSION=... -P install_test.cmake
set(prefix ${BUILD_DIR}/install-test)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
    message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
set(expected bin/cscunpack share/bash-completion/completions/cscunpack share/doc/cscunpack/README.md
    share/doc/cscunpack/changelog.gz share/doc/cscunpack/copyright share/man/man1/cscunpack.1.gz)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
execute_process(COMMAND ${prefix}/bin/cscunpack --version OUTPUT_VARIABLE said
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT said STREQUAL "cscunpack ${VERSION}")
    message(FATAL_ERROR "--version said: ${said}")
endif()
execute_process(COMMAND gzip -dc ${prefix}/share/man/man1/cscunpack.1.gz OUTPUT_VARIABLE page)
if(NOT page MATCHES "\"cscunpack ${VERSION}\"" OR NOT page MATCHES "EXIT STATUS")
    message(FATAL_ERROR "the man page lacks its version or its exit codes")
endif()
file(REMOVE_RECURSE ${prefix})
