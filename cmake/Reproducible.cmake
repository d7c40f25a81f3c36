# One commit gives the same bytes in any folder at any time.
#
# SOURCE_DATE_EPOCH, the one date that goes into the products (the Debian changelog, the
# archives' file times): the caller's value when the environment sets it, else the date of
# the commit checked out, else none (a tree without git history stamps nothing of its own,
# but the archives then carry the build's times).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(KVZ_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    # Only this project's own history counts, not that of a repository around a copy.
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE kvz_git_top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(kvz_git_top AND kvz_git_top STREQUAL PROJECT_SOURCE_DIR)
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE KVZ_SOURCE_DATE_EPOCH
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
endif()
if(NOT KVZ_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(STATUS "SOURCE_DATE_EPOCH: none (no git history); archives carry the build's times")
    set(KVZ_SOURCE_DATE_EPOCH "")
endif()

# The folders the build ran in stay out of the products: __FILE__ and debug information
# name sources relative to the project (examples/Demo.cpp) and the build folder as ".",
# which is where a debugger started in the source folder finds them. clang applies the
# longer of two matching prefixes, GCC the later option, so the build folder (perhaps
# inside the source folder) comes last.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
                    "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")
