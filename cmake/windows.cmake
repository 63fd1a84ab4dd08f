# The Windows executable: one self-contained 32-bit console .exe with the
# administrator manifest embedded. Included from the top CMakeLists.txt when
# building for Windows (MinGW-w64 cross build or MSVC).

# The Win32 console key wait, in every Windows program of the project.
set(VELTRANE_CONSOLE_WIN ${CMAKE_CURRENT_SOURCE_DIR}/platform/console_win.cpp)
# The process id, the command line and the tool's own files, real in every
# Windows program.
set(VELTRANE_PROCESS_WIN ${CMAKE_CURRENT_SOURCE_DIR}/platform/process_win.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/files_win.cpp)

add_executable(veltrane
    dialogue/main.cpp
    platform/device_win.cpp
    ${VELTRANE_CONSOLE_WIN}
    ${VELTRANE_PROCESS_WIN}
    checks/win_layouts.cpp
    resources/veltrane.rc)
target_link_libraries(veltrane PRIVATE veltrane_tool)

if(MINGW)
    # Nothing beyond KERNEL32 and msvcrt at run time: libgcc and libstdc++ go
    # into the .exe, and symbols are stripped for the size.
    set(VELTRANE_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
    target_link_options(veltrane PRIVATE ${VELTRANE_STATIC_RUNTIME} -s)
elseif(MSVC)
    # Static CRT, so the .exe needs no redistributable.
    set_property(TARGET veltrane_tool veltrane PROPERTY
        MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    # The manifest comes from veltrane.rc; a second one from the linker would
    # collide with it.
    target_link_options(veltrane PRIVATE /MANIFEST:NO)
endif()

# Test programs, never shipped (the native build turns them on for its Wine
# tests):
# - veltrane-sim.exe: the same tool on the simulated storage stack, so every
#   end-to-end case runs through msvcrt, 32-bit layouts and text-mode I/O;
# - veltrane-win32-fakes.exe: the Win32 layer with every Win32 and msvcrt call
#   it makes replaced, at link time, by recording fakes.
option(VELTRANE_WINDOWS_TEST_PROGRAMS "Build veltrane-sim.exe and the Win32 fakes test" OFF)
set(VELTRANE_JSON_HEADERS "" CACHE PATH "nlohmann-json's header directory (holding json.hpp)")
if(VELTRANE_WINDOWS_TEST_PROGRAMS AND MINGW)
    if(NOT EXISTS ${VELTRANE_JSON_HEADERS}/json.hpp)
        message(FATAL_ERROR "VELTRANE_JSON_HEADERS: no json.hpp in '${VELTRANE_JSON_HEADERS}'")
    endif()
    # Only that one directory, under the name the sources include it by: the
    # build host's other headers stay out of the Windows build.
    set(VELTRANE_SIM_INCLUDE ${CMAKE_BINARY_DIR}/sim-include)
    file(MAKE_DIRECTORY ${VELTRANE_SIM_INCLUDE})
    file(CREATE_LINK ${VELTRANE_JSON_HEADERS} ${VELTRANE_SIM_INCLUDE}/nlohmann SYMBOLIC)

    file(GLOB VELTRANE_SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
    # The simulator's POSIX pieces have their Win32 counterparts in the
    # shared console file.
    list(FILTER VELTRANE_SIM_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
    add_executable(veltrane-sim dialogue/main.cpp ${VELTRANE_CONSOLE_WIN} ${VELTRANE_PROCESS_WIN}
        ${VELTRANE_SIM_SOURCES})
    target_include_directories(veltrane-sim SYSTEM PRIVATE ${VELTRANE_SIM_INCLUDE})
    target_link_libraries(veltrane-sim PRIVATE veltrane_tool)
    target_link_options(veltrane-sim PRIVATE ${VELTRANE_STATIC_RUNTIME})

    add_executable(veltrane-win32-fakes
        tests/windows/win32_fakes.cpp
        platform/device_win.cpp
        ${VELTRANE_CONSOLE_WIN}
        ${VELTRANE_PROCESS_WIN})
    target_include_directories(veltrane-win32-fakes PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(veltrane-win32-fakes PRIVATE ${VELTRANE_STATIC_RUNTIME})
    # Its objects, for the check that every function the layer imports has a
    # fake (tests/windows/win32_fakes.py).
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/veltrane-win32-fakes-objects.txt
        CONTENT "$<JOIN:$<TARGET_OBJECTS:veltrane-win32-fakes>,\n>\n")
endif()
