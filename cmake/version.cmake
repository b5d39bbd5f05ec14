# The version is written once, in project() of the top CMakeLists.txt. From it
# come the number in the DllInfo banner, the Windows version resource and the
# names of the release archives.
#
# The banner number is MAJOR, MINOR and PATCH run together, the patch in three
# digits: 3.0.130 gives 30130, the number scripts have always seen.
if(PROJECT_VERSION_MINOR GREATER 9 OR PROJECT_VERSION_PATCH GREATER 999)
  message(FATAL_ERROR "version ${PROJECT_VERSION}: the banner number holds a one-digit minor "
                      "version and a patch of at most three digits")
endif()
math(EXPR LASTSPOT_BANNER_NUMBER
     "${PROJECT_VERSION_MAJOR} * 10000 + ${PROJECT_VERSION_MINOR} * 1000 + ${PROJECT_VERSION_PATCH}")

set(LASTSPOT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${LASTSPOT_GENERATED_DIR}/version.h @ONLY)
# Read by scripts/make-dist.sh for the archive names.
file(WRITE ${CMAKE_BINARY_DIR}/lastspot-version.txt "${PROJECT_VERSION}\n")

# lastspot_version_resource(TARGET FILE_NAME DESCRIPTION FILE_TYPE): gives a
# Windows TARGET a VERSIONINFO resource (FILE_TYPE 1 for a program, 2 for a
# DLL). It adds data only: no code and no import.
function(lastspot_version_resource target file_name description file_type)
  if(NOT WIN32)
    return()
  endif()
  set(LASTSPOT_FILE_NAME ${file_name})
  set(LASTSPOT_FILE_DESCRIPTION ${description})
  set(LASTSPOT_FILE_TYPE ${file_type})
  set(rc ${LASTSPOT_GENERATED_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
