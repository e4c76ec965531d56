# The release side of the Windows build, included after the zarnouns target.
#
# The version in project() is the only one written down: the caption (by a
# compile definition), the version resource and the manifest take it from
# generated files, the release archive (scripts/package) from version.txt,
# and its README.txt is generated with it.
configure_file(${CMAKE_SOURCE_DIR}/win32/version.h.in generated/zarnouns_version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/win32/zarnouns.manifest.in generated/zarnouns.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/win32/README.txt.in package/README.txt @ONLY NEWLINE_STYLE CRLF)
file(WRITE ${CMAKE_BINARY_DIR}/version.txt "${PROJECT_VERSION}\n")
target_include_directories(zarnouns PRIVATE ${CMAKE_BINARY_DIR}/generated)
# The resource compiler reports no dependencies: the files the resource
# script takes in are named here, so that a changed manifest or version
# reaches the executable.
set_source_files_properties(${CMAKE_SOURCE_DIR}/win32/zarnouns.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_BINARY_DIR}/generated/zarnouns.manifest;${CMAKE_BINARY_DIR}/generated/zarnouns_version.h")

# No link time in the header, so that a build is byte for byte the same
# each time.
target_link_options(zarnouns PRIVATE -Wl,--no-insert-timestamp)

add_subdirectory(${CMAKE_SOURCE_DIR}/examples/installer ${CMAKE_BINARY_DIR}/examples/installer)
