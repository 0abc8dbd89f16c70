# Packs audio/clips into ${CMAKE_BINARY_DIR}/Audio.zip, entries under Audio/ with
# the UTF-8 name flag set. The program unpacks and deletes that file at start,
# so the pack is made again whenever it is missing or a clip changed.
# Other targets depend on `audio_pack`; the file's path is also the target's
# property VOICE_PACK_FILE.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

file(GLOB_RECURSE _voice_clips CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/clips/*)
set(_voice_pack ${CMAKE_BINARY_DIR}/Audio.zip)

add_custom_command(
    OUTPUT ${_voice_pack}
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/make_pack.py
            ${CMAKE_CURRENT_SOURCE_DIR}/clips ${_voice_pack} --prefix Audio/
    DEPENDS ${_voice_clips} ${CMAKE_CURRENT_SOURCE_DIR}/make_pack.py
    COMMENT "Packing the recorded clips into Audio.zip"
    VERBATIM)
add_custom_target(audio_pack ALL DEPENDS ${_voice_pack})
set_target_properties(audio_pack PROPERTIES VOICE_PACK_FILE ${_voice_pack})
