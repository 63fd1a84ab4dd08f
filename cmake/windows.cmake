# The Windows executable: one self-contained 32-bit console .exe with the
# administrator manifest embedded. Included from the top CMakeLists.txt when
# building for Windows (MinGW-w64 cross build or MSVC).

add_executable(veltrane
    dialogue/main.cpp
    platform/device_win.cpp
    platform/win_layouts.cpp
    resources/veltrane.rc)
target_link_libraries(veltrane PRIVATE veltrane_tool)

if(MINGW)
    # Nothing beyond KERNEL32 and msvcrt at run time: libgcc and libstdc++ go
    # into the .exe, and symbols are stripped for the size.
    target_link_options(veltrane PRIVATE -static -static-libgcc -static-libstdc++ -s)
elseif(MSVC)
    # Static CRT, so the .exe needs no redistributable.
    set_property(TARGET veltrane_tool veltrane PROPERTY
        MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    # The manifest comes from veltrane.rc; a second one from the linker would
    # collide with it.
    target_link_options(veltrane PRIVATE /MANIFEST:NO)
endif()
