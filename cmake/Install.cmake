# `cmake --install` lays out the program folder. The program keeps its settings,
# saved login, logs, crash records and clips beside its executable, so the
# folder is flat and must stay writable by the user who runs it: the default
# prefix is a folder in the user's home, not /usr/local.
#
#   <prefix>/Voice         the program
#   <prefix>/Audio.zip     the clips; unpacked into <prefix>/Audio/ at the next start
#   <prefix>/logo.png      the icon of the desktop entry (256 px; the windows
#                          take every size from the skin)
#   <VOICE_DESKTOP_DIR>/voice.desktop   starts <prefix>/Voice
#   <VOICE_AUTOSTART_DIR>/voice.desktop starts it with the desktop session; only
#       with -DVOICE_AUTOSTART=ON, or on its own with
#       `cmake --install <build> --component autostart`
#
# Setting.ini is not installed: without it the program uses the built-in web
# API address, and an existing one (the store's own) is never overwritten.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local/share/voice" CACHE PATH
        "Program folder (must be writable by the user who runs the program)" FORCE)
endif()
set(VOICE_DESKTOP_DIR "$ENV{HOME}/.local/share/applications" CACHE PATH
    "Folder the desktop entry is installed into (empty: none)")
option(VOICE_AUTOSTART "Start the program with the desktop session (XDG autostart entry)" OFF)
if(DEFINED ENV{XDG_CONFIG_HOME} AND NOT "$ENV{XDG_CONFIG_HOME}" STREQUAL "")
    set(_voice_config_home "$ENV{XDG_CONFIG_HOME}")
else()
    set(_voice_config_home "$ENV{HOME}/.config")
endif()
set(VOICE_AUTOSTART_DIR "${_voice_config_home}/autostart" CACHE PATH
    "Folder the autostart entry is installed into")

if(TARGET Voice)
    install(TARGETS Voice RUNTIME DESTINATION .)
    # The 256-px icon (tools/make_icons.py): launchers scale it down sharply.
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/skin/UI/icon/logo_256.png DESTINATION .
        RENAME logo.png)
endif()
if(TARGET audio_pack)
    get_target_property(_voice_pack_file audio_pack VOICE_PACK_FILE)
    install(FILES ${_voice_pack_file} DESTINATION .)
endif()

# Writes a desktop entry for the installed program into `dir` at install time,
# so that `cmake --install --prefix X` points the entry at X, and DESTDIR
# staging keeps the final paths inside the file. `extra` ends the entry.
function(voice_install_desktop_entry dir extra)
    install(CODE "
        set(_prefix \"\${CMAKE_INSTALL_PREFIX}\")
        set(_dir \"\$ENV{DESTDIR}${dir}\")
        file(MAKE_DIRECTORY \"\${_dir}\")
        file(WRITE \"\${_dir}/voice.desktop\" \"[Desktop Entry]
Type=Application
Version=1.0
Name=Tallix语音端
Comment=Speaks the cashier's events aloud
Comment[zh_CN]=语音播报收银端的消息
Exec=\\\"\${_prefix}/Voice\\\"
Path=\${_prefix}
Icon=\${_prefix}/logo.png
Terminal=false
Categories=Office;AudioVideo;
StartupNotify=false
${extra}\")
        message(STATUS \"Installing: \${_dir}/voice.desktop\")
    " ${ARGN})
endfunction()

if(TARGET Voice AND VOICE_DESKTOP_DIR)
    voice_install_desktop_entry("${VOICE_DESKTOP_DIR}" "")
endif()
if(TARGET Voice)
    # The same entry in the session's autostart folder: the desktop starts the
    # program at login. Hidden=true in it, or deleting it, switches that off.
    if(VOICE_AUTOSTART)
        voice_install_desktop_entry("${VOICE_AUTOSTART_DIR}" "X-GNOME-Autostart-enabled=true\n"
            COMPONENT autostart)
    else()
        voice_install_desktop_entry("${VOICE_AUTOSTART_DIR}" "X-GNOME-Autostart-enabled=true\n"
            COMPONENT autostart EXCLUDE_FROM_ALL)
    endif()
endif()
