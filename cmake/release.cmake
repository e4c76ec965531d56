# The release side of the Windows build, included after the zarnouns target.
#
# The version in project() is the only one written down: the caption (by a
# compile definition), the version resource and the manifest take it from
# generated files, the release archive (scripts/package) from version.txt,
# and its README.txt is generated with it.
# The two builds differ only in what they are for: a 32-bit IDE loads a
# 32-bit plug-in from Program Files (x86) and its entry is in the 32-bit
# registry view; a 64-bit IDE loads a 64-bit one from the native Program
# Files, with the entry in the 64-bit view, where a 64-bit program writes it.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZARNO_BITS 64)
  set(ZARNO_ARCH amd64)
  set(ZARNO_PROGRAM_FILES "C:\\Program Files")
  set(ZARNO_FOR "This is the 64-bit program (win64). Ship it with a plug-in built for
64-bit IDEs: such an IDE loads only a 64-bit plug-in, installed into the
native Program Files (C:\\Program Files). It needs 64-bit Windows.")
  set(ZARNO_VIEW_NOTE "The 64-bit program writes
in the 64-bit registry view, the one 64-bit programs and regedit show (not
under HKLM\\Software\\WOW6432Node).")
else()
  set(ZARNO_BITS 32)
  set(ZARNO_ARCH x86)
  set(ZARNO_PROGRAM_FILES "C:\\Program Files (x86)")
  set(ZARNO_FOR "This is the 32-bit program (win32). Ship it with a plug-in built for
32-bit IDEs, installed into Program Files (x86) on 64-bit Windows. It runs
on 32-bit and 64-bit Windows.")
  set(ZARNO_VIEW_NOTE "On 64-bit Windows the HKLM key is in the 32-bit
registry view, that is under HKLM\\Software\\WOW6432Node\\Microsoft\\...")
endif()
configure_file(${CMAKE_SOURCE_DIR}/win32/version.h.in generated/zarnouns_version.h @ONLY)
# The manifest goes into the executable without its comments and indentation:
# they are for the reader of the source, and would take a kilobyte of the file.
file(READ ${CMAKE_SOURCE_DIR}/win32/zarnouns.manifest.in ZARNO_MANIFEST)
string(REGEX REPLACE "<!--[^>]*-->" "" ZARNO_MANIFEST "${ZARNO_MANIFEST}")
string(REGEX REPLACE "\n[ \n]*" "\n" ZARNO_MANIFEST "${ZARNO_MANIFEST}")
string(CONFIGURE "${ZARNO_MANIFEST}" ZARNO_MANIFEST @ONLY)
file(CONFIGURE OUTPUT generated/zarnouns.manifest CONTENT "${ZARNO_MANIFEST}")
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
