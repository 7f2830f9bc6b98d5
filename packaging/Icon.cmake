# The window's logo is the menu icon "tirv": the SVG itself for scalable/, and PNG renderings
# at the usual theme sizes for menus that do not draw SVG.
set(TIRV_LOGO ${CMAKE_SOURCE_DIR}/resources/form/logo.svg)
set(TIRV_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${TIRV_LOGO} DESTINATION ${TIRV_ICON_DIR}/scalable/apps RENAME tirv.svg)

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icons "")
foreach(size 48 128 256)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/tirv.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}
        COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${TIRV_LOGO}
        DEPENDS ${TIRV_LOGO} VERBATIM)
    install(FILES ${png} DESTINATION ${TIRV_ICON_DIR}/${size}x${size}/apps)
    list(APPEND icons ${png})
endforeach()
add_custom_target(tirv_icons ALL DEPENDS ${icons})
