# Pictures of the client, rendered from SVG at 1x and @2x under their resource paths. Included by
# CMakeLists.txt; appends to _pngs and _image_entries.

# Renders src to <alias>.png at width x height and <alias>@2x.png at twice that size, with the optional
# style sheet applied to the source.
function(tovra_render_picture src alias width height)
    set(_out1 ${CMAKE_CURRENT_BINARY_DIR}/${alias}.png)
    set(_out2 ${CMAKE_CURRENT_BINARY_DIR}/${alias}@2x.png)
    get_filename_component(_dir ${_out1} DIRECTORY)
    math(EXPR _w2 "${width} * 2")
    math(EXPR _h2 "${height} * 2")
    set(_style)
    set(_deps ${src})
    if(ARGC GREATER 4)
        set(_style --stylesheet ${ARGV4})
        list(APPEND _deps ${ARGV4})
    endif()
    # Text in a picture is set in the application's font when the build has it.
    set(_render ${RSVG_CONVERT})
    if(TOVRA_PICTURE_FONTCONFIG AND src MATCHES "^${CMAKE_CURRENT_SOURCE_DIR}/")
        file(READ ${src} _svg)
        if(_svg MATCHES "<text")
            set(_render ${CMAKE_COMMAND} -E env FONTCONFIG_FILE=${TOVRA_PICTURE_FONTCONFIG} ${RSVG_CONVERT})
            list(APPEND _deps ${TOVRA_PICTURE_FONTCONFIG})
        endif()
    endif()
    # A caller's _picture_inset (width, height, top) draws the source smaller inside the picture, left-aligned.
    set(_size1 -w ${width} -h ${height})
    set(_size2 -w ${_w2} -h ${_h2})
    if(_picture_inset)
        list(GET _picture_inset 0 _iw)
        list(GET _picture_inset 1 _ih)
        list(GET _picture_inset 2 _it)
        math(EXPR _iw2 "${_iw} * 2")
        math(EXPR _ih2 "${_ih} * 2")
        math(EXPR _it2 "${_it} * 2")
        set(_size1 -w ${_iw} -h ${_ih} --page-width ${width} --page-height ${height} --top ${_it})
        set(_size2 -w ${_iw2} -h ${_ih2} --page-width ${_w2} --page-height ${_h2} --top ${_it2})
    endif()
    add_custom_command(OUTPUT ${_out1} ${_out2}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
        COMMAND ${_render} ${_style} ${_size1} -o ${_out1} ${src}
        COMMAND ${_render} ${_style} ${_size2} -o ${_out2} ${src}
        DEPENDS ${_deps} VERBATIM)
    set(_pngs ${_pngs} ${_out1} ${_out2} PARENT_SCOPE)
    set(_image_entries "${_image_entries}        <file alias=\"${alias}.png\">${_out1}</file>\n        <file alias=\"${alias}@2x.png\">${_out2}</file>\n" PARENT_SCOPE)
endfunction()

# Every drawn image, one per line of art.list: alias, source, width, height, optional style sheet.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/art.list)
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/art.list _art_lines REGEX "^[^#]")
foreach(_line IN LISTS _art_lines)
    string(REGEX REPLACE "[ \t]+" ";" _fields "${_line}")
    list(LENGTH _fields _count)
    if(_count LESS 4 OR _count GREATER 5)
        message(FATAL_ERROR "art.list: malformed line: ${_line}")
    endif()
    list(GET _fields 0 _alias)
    list(GET _fields 1 _src)
    list(GET _fields 2 _w)
    list(GET _fields 3 _h)
    set(_extra)
    if(_count EQUAL 5)
        list(GET _fields 4 _css)
        set(_extra ${CMAKE_CURRENT_SOURCE_DIR}/${_css})
    endif()
    tovra_render_picture(${CMAKE_CURRENT_SOURCE_DIR}/${_src} ${_alias} ${_w} ${_h} ${_extra})
endforeach()

# Country flags, named by the upper-case ISO code as the provider sends it, 24 x 18 beside the star: the flag itself
# 20 x 15, one pixel down, so that it keeps its distance from the server's name and centres on its letters.
set(TOVRA_FLAGS_DIR /usr/share/iso-flags-svg/country-4x3 CACHE PATH "Folder of the 4:3 SVG country flags (Debian iso-flags-svg)")
file(GLOB _flags ${TOVRA_FLAGS_DIR}/[a-z][a-z].svg)
if(_flags)
    set(_picture_inset 20 15 1)
    foreach(_flag IN LISTS _flags)
        get_filename_component(_code ${_flag} NAME_WE)
        string(TOUPPER ${_code} _code)
        tovra_render_picture(${_flag} flags/resources/servers/flags/${_code} 24 18)
    endforeach()
    unset(_picture_inset)
else()
    message(WARNING "No country flags in ${TOVRA_FLAGS_DIR} (package iso-flags-svg): the picker shows stars only")
endif()
