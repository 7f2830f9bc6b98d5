# The window's logo is the menu icon "tirv": an SVG goes to scalable/, a PNG under its own
# pixel size, read from its IHDR header (width and height, big-endian, at byte 16).
set(TIRV_LOGO_BASE ${CMAKE_SOURCE_DIR}/resources/form/logo)
set(TIRV_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
if(EXISTS ${TIRV_LOGO_BASE}.svg)
    install(FILES ${TIRV_LOGO_BASE}.svg DESTINATION ${TIRV_ICON_DIR}/scalable/apps
            RENAME tirv.svg)
endif()
if(EXISTS ${TIRV_LOGO_BASE}.png)
    file(READ ${TIRV_LOGO_BASE}.png header OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING ${header} 0 8 width)
    string(SUBSTRING ${header} 8 8 height)
    math(EXPR width "0x${width}")
    math(EXPR height "0x${height}")
    install(FILES ${TIRV_LOGO_BASE}.png DESTINATION ${TIRV_ICON_DIR}/${width}x${height}/apps
            RENAME tirv.png)
endif()
