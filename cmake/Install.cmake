# `cmake --install` lays out the program folder. The program keeps its settings,
# saved login, logs, crash records and clips beside its executable, so the
# folder is flat and must stay writable by the user who runs it: the default
# prefix is a folder in the user's home, not /usr/local.
#
#   <prefix>/Voice         the program
#   <prefix>/Audio.zip     the clips; unpacked into <prefix>/Audio/ at the next start
#   <prefix>/logo.png     the icon of the desktop entry
#   <VOICE_DESKTOP_DIR>/voice.desktop   starts <prefix>/Voice
#
# Setting.ini is not installed: without it the program uses the built-in web
# API address, and an existing one (the store's own) is never overwritten.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local/share/voice" CACHE PATH
        "Program folder (must be writable by the user who runs the program)" FORCE)
endif()
set(VOICE_DESKTOP_DIR "$ENV{HOME}/.local/share/applications" CACHE PATH
    "Folder the desktop entry is installed into (empty: none)")

if(TARGET Voice)
    install(TARGETS Voice RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/skin/UI/logo.png DESTINATION .)
endif()
if(TARGET audio_pack)
    get_target_property(_voice_pack_file audio_pack VOICE_PACK_FILE)
    install(FILES ${_voice_pack_file} DESTINATION .)
endif()

if(TARGET Voice AND VOICE_DESKTOP_DIR)
    # Written at install time so that `cmake --install --prefix X` points the
    # entry at X, and DESTDIR staging keeps the final paths inside the file.
    install(CODE "
        set(_prefix \"\${CMAKE_INSTALL_PREFIX}\")
        set(_dir \"\$ENV{DESTDIR}${VOICE_DESKTOP_DIR}\")
        file(MAKE_DIRECTORY \"\${_dir}\")
        file(WRITE \"\${_dir}/voice.desktop\" \"[Desktop Entry]
Type=Application
Version=1.0
Name=Tallix语音端
Comment=Speaks the cashier's events aloud
Exec=\\\"\${_prefix}/Voice\\\"
Path=\${_prefix}
Icon=\${_prefix}/logo.png
Terminal=false
Categories=Office;AudioVideo;
StartupNotify=false
\")
        message(STATUS \"Installing: \${_dir}/voice.desktop\")
    ")
endif()
