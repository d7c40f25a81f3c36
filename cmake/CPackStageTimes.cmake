# CPack pre-build script: dates every staged file and folder SOURCE_DATE_EPOCH, so that the
# archives record the same times whenever and wherever they are made (the Debian generator
# reads SOURCE_DATE_EPOCH itself).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    return()
endif()
file(GLOB_RECURSE kvz_staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
list(APPEND kvz_staged "${CPACK_TEMPORARY_DIRECTORY}")
execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${kvz_staged}
                COMMAND_ERROR_IS_FATAL ANY)
