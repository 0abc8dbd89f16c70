# voice_save_login: writes a saved login with automatic login into a program
# folder (used by scripts/demo.sh --auto).
add_executable(voice_save_login ${CMAKE_CURRENT_SOURCE_DIR}/save_login.cpp)
target_link_libraries(voice_save_login PRIVATE voice_app)
