# Runs at install time (cmake --install), when the real prefix is known: writes the desktop entry
# with the installed executable's absolute path, so launchers and autostart start this very copy,
# and the application icon, made square from the character's artwork.
# Expects DESKTOP_TEMPLATE, ICON_SOURCE, DESKTOP_ID and WORK_DIR.

set(exec "${CMAKE_INSTALL_PREFIX}/bin/quorvel")
# A path with characters the Exec key treats specially is quoted, and the whole value escaped
# as a desktop-entry string.
if(exec MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    set(exec "\"${exec}\"")
    string(REPLACE "\\" "\\\\" exec "${exec}")
endif()
string(REPLACE "%" "%%" exec "${exec}")
set(QUORVEL_EXEC "${exec}")
configure_file("${DESKTOP_TEMPLATE}" "${WORK_DIR}/${DESKTOP_ID}.desktop" @ONLY)
file(INSTALL "${WORK_DIR}/${DESKTOP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications")

# Icon themes expect a square picture: widen the view box of the taller-than-wide or wider-than-tall
# artwork to a square around it.
file(READ "${ICON_SOURCE}" svg)
if(svg MATCHES "viewBox=\"0 0 ([0-9]+) ([0-9]+)\"")
    set(w ${CMAKE_MATCH_1})
    set(h ${CMAKE_MATCH_2})
    if(w GREATER h)
        math(EXPR side "${w}")
        math(EXPR pad "(${w} - ${h}) / 2")
        set(box "0 -${pad} ${side} ${side}")
    else()
        math(EXPR side "${h}")
        math(EXPR pad "(${h} - ${w}) / 2")
        set(box "-${pad} 0 ${side} ${side}")
    endif()
    string(REGEX REPLACE "width=\"[0-9.]+\" height=\"[0-9.]+\" viewBox=\"[^\"]*\""
        "width=\"${side}\" height=\"${side}\" viewBox=\"${box}\"" svg "${svg}")
endif()
file(WRITE "${WORK_DIR}/${DESKTOP_ID}.svg" "${svg}")
file(INSTALL "${WORK_DIR}/${DESKTOP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/scalable/apps")
