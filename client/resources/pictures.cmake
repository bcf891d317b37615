# Pictures of the server picker and the welcome guide, rendered from SVG at 1x and @2x under the resource
# paths the code uses. Included by CMakeLists.txt; appends to _pngs and _image_entries.

# Renders src to <alias>.png at width x height and <alias>@2x.png at twice that size.
function(tovra_render_picture src alias width height)
    set(_out1 ${CMAKE_CURRENT_BINARY_DIR}/${alias}.png)
    set(_out2 ${CMAKE_CURRENT_BINARY_DIR}/${alias}@2x.png)
    get_filename_component(_dir ${_out1} DIRECTORY)
    math(EXPR _w2 "${width} * 2")
    math(EXPR _h2 "${height} * 2")
    add_custom_command(OUTPUT ${_out1} ${_out2}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
        COMMAND ${RSVG_CONVERT} -w ${width} -h ${height} -o ${_out1} ${src}
        COMMAND ${RSVG_CONVERT} -w ${_w2} -h ${_h2} -o ${_out2} ${src}
        DEPENDS ${src} VERBATIM)
    set(_pngs ${_pngs} ${_out1} ${_out2} PARENT_SCOPE)
    set(_image_entries "${_image_entries}        <file alias=\"${alias}.png\">${_out1}</file>\n        <file alias=\"${alias}@2x.png\">${_out2}</file>\n" PARENT_SCOPE)
endfunction()

# Favourite stars: the picker's decoration is the star image with the flag painted at (29, 4).
foreach(_star FavoriteOn FavoriteOff)
    tovra_render_picture(${CMAKE_CURRENT_SOURCE_DIR}/servers/${_star}.svg servers/resources/servers/${_star} 56 29)
endforeach()

# Country flags, named by the upper-case ISO code as the provider sends it, 24 x 18 beside the star.
set(TOVRA_FLAGS_DIR /usr/share/iso-flags-svg/country-4x3 CACHE PATH "Folder of the 4:3 SVG country flags (Debian iso-flags-svg)")
file(GLOB _flags ${TOVRA_FLAGS_DIR}/[a-z][a-z].svg)
if(_flags)
    foreach(_flag IN LISTS _flags)
        get_filename_component(_code ${_flag} NAME_WE)
        string(TOUPPER ${_code} _code)
        tovra_render_picture(${_flag} flags/resources/servers/flags/${_code} 24 18)
    endforeach()
else()
    message(WARNING "No country flags in ${TOVRA_FLAGS_DIR} (package iso-flags-svg): the picker shows stars only")
endif()

# Welcome guide: pages 1 to 4 in each language, the size of the guide's picture.
foreach(_lang en nl de)
    foreach(_page 1 2 3 4)
        set(_name WelcomeImage_0${_page}_${_lang})
        tovra_render_picture(${CMAKE_CURRENT_SOURCE_DIR}/welcome/${_name}.svg welcome/resources/welcome/${_name} 598 400)
    endforeach()
endforeach()
