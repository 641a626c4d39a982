# qlm_add_windows_resources(TARGET DESCRIPTION text)
# Gives a Windows program its icon (rendered from the program's symbol at 16 to 256 pixels),
# its version information and its application manifest, as resources linked into the .exe.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)

set(QLM_WINDOWS_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows)

function(qlm_add_windows_resources target)
    cmake_parse_arguments(R "" "DESCRIPTION" "" ${ARGN})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(symbol ${PROJECT_SOURCE_DIR}/resources/symbol.svg)
    set(icon ${dir}/${target}.ico)

    # One picture per size Windows asks for (lists, the taskbar, large icons, Explorer's
    # largest view), each rendered from the vector original rather than scaled.
    set(pngs)
    set(commands)
    foreach(size 16 20 24 32 40 48 64 256)
        set(png ${dir}/icon-${size}.png)
        list(APPEND pngs ${png})
        list(APPEND commands COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${symbol})
    endforeach()
    # The largest one is stored as PNG, as Windows expects for 256 pixels.
    list(POP_BACK pngs large)
    add_custom_command(OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        ${commands}
        COMMAND ${ICOTOOL} -c -o ${icon} ${pngs} --raw=${large}
        DEPENDS ${symbol}
        COMMENT "Making the icon of ${target}" VERBATIM)

    # Four-part numbers for the version resource and the manifest: 1.01 is 1.1.0.0.
    math(EXPR minor "${PROJECT_VERSION_MINOR}")
    set(QLM_RC_VERSION "${PROJECT_VERSION_MAJOR}.${minor}.0.0")
    set(QLM_RC_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${minor},0,0")
    set(QLM_RC_TARGET ${target})
    set(QLM_RC_DESCRIPTION "${R_DESCRIPTION}")
    set(QLM_RC_ICON ${icon})
    set(QLM_RC_MANIFEST ${dir}/${target}.manifest)
    configure_file(${QLM_WINDOWS_PACKAGING_DIR}/quillmoor-updater.manifest.in
                   ${QLM_RC_MANIFEST} @ONLY)
    configure_file(${QLM_WINDOWS_PACKAGING_DIR}/quillmoor-updater.rc.in
                   ${dir}/${target}.rc @ONLY)
    set_source_files_properties(${dir}/${target}.rc PROPERTIES
        OBJECT_DEPENDS "${icon};${QLM_RC_MANIFEST}")
    target_sources(${target} PRIVATE ${dir}/${target}.rc ${icon})
endfunction()
