# The manifest tables: pak0_manifest.txt and temp_folders.txt become a generated C++ source at
# build time (manifest_gen.cmake), so the program reads no file at run time. The build fails
# with an error naming the file when a text file does not hold exactly as many non-blank lines
# as manifests.h declares (kPak0ManifestSize, kTempFolderCount).
#
# Sets CORVANE_MANIFEST_SOURCES (the generated source and manifests.cpp).

set(_corvane_manifest_dir "${CMAKE_CURRENT_LIST_DIR}")
set(_corvane_manifest_tables "${CMAKE_CURRENT_BINARY_DIR}/manifest_tables.cpp")

add_custom_command(
    OUTPUT "${_corvane_manifest_tables}"
    COMMAND "${CMAKE_COMMAND}"
        "-DPAK0_LIST=${_corvane_manifest_dir}/pak0_manifest.txt"
        "-DFOLDER_LIST=${_corvane_manifest_dir}/temp_folders.txt"
        "-DHEADER=${_corvane_manifest_dir}/../include/conversion/manifests.h"
        "-DTABLES=${_corvane_manifest_dir}/manifest_tables.h"
        "-DOUTPUT=${_corvane_manifest_tables}"
        -P "${_corvane_manifest_dir}/manifest_gen.cmake"
    DEPENDS
        "${_corvane_manifest_dir}/pak0_manifest.txt"
        "${_corvane_manifest_dir}/temp_folders.txt"
        "${_corvane_manifest_dir}/../include/conversion/manifests.h"
        "${_corvane_manifest_dir}/manifest_tables.h"
        "${_corvane_manifest_dir}/manifest_gen.cmake"
    COMMENT "Generating the manifest tables"
    VERBATIM)

set(CORVANE_MANIFEST_SOURCES
    "${_corvane_manifest_tables}"
    "${_corvane_manifest_dir}/manifests.cpp")

# The known releases of the Quake 2 data files (known_paks.tsv), as a constant text.
set(_corvane_known_paks "${CMAKE_CURRENT_BINARY_DIR}/known_paks_text.cpp")
add_custom_command(
    OUTPUT "${_corvane_known_paks}"
    COMMAND "${CMAKE_COMMAND}"
        "-DINPUT=${_corvane_manifest_dir}/known_paks.tsv"
        -DNAME=kKnownPaksText
        "-DOUTPUT=${_corvane_known_paks}"
        -P "${_corvane_manifest_dir}/embed_text.cmake"
    DEPENDS "${_corvane_manifest_dir}/known_paks.tsv" "${_corvane_manifest_dir}/embed_text.cmake"
    COMMENT "Embedding the known releases of the Quake 2 data files"
    VERBATIM)
list(APPEND CORVANE_MANIFEST_SOURCES "${_corvane_known_paks}")
