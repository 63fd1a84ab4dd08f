# The Windows executable: one self-contained console .exe with the
# administrator manifest embedded, veltrane.exe from a 32-bit build and
# veltrane64.exe from a 64-bit one. Included from the top CMakeLists.txt when
# building for Windows (MinGW-w64 cross build or MSVC).

# The 64-bit build's programs carry "64" in their names, so that both builds'
# files can stand side by side.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELTRANE_EXE_SUFFIX 64)
else()
    set(VELTRANE_EXE_SUFFIX "")
endif()

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
# ADVAPI32 for the registry (is this Windows PE?), a system DLL everywhere.
target_link_libraries(veltrane PRIVATE veltrane_tool advapi32)
set_target_properties(veltrane PROPERTIES OUTPUT_NAME veltrane${VELTRANE_EXE_SUFFIX})

if(MINGW)
    # Nothing beyond KERNEL32, msvcrt and ADVAPI32 at run time: libgcc and
    # libstdc++ go into the .exe, and symbols are stripped for the size.
    set(VELTRANE_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
    target_link_options(veltrane PRIVATE ${VELTRANE_STATIC_RUNTIME} -s)
    # Compiled for size (a Windows PE stick holds it, and it fits in 160
    # KiB), but for the loop that classes every unit the read-back reads:
    # that one keeps its speed.
    target_compile_options(veltrane_tool PRIVATE -Os)
    target_compile_options(veltrane PRIVATE -Os)
    set_source_files_properties(dialogue/verify_unit.cpp PROPERTIES COMPILE_OPTIONS -O2)
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
# - veltrane-sim.exe (veltrane-sim64.exe): the same tool on the simulated
#   storage stack, so every end-to-end case runs through msvcrt, the build's
#   layouts and text-mode I/O;
# - veltrane-win32-fakes.exe: the Win32 layer with every Win32 and msvcrt call
#   it makes replaced, at link time, by recording fakes.
option(VELTRANE_WINDOWS_TEST_PROGRAMS "Build veltrane-sim(64).exe and the Win32 fakes test" OFF)
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
    set_target_properties(veltrane-sim PROPERTIES OUTPUT_NAME veltrane-sim${VELTRANE_EXE_SUFFIX})

    add_executable(veltrane-win32-fakes
        tests/windows/win32_fakes.cpp
        platform/device_win.cpp
        ${VELTRANE_CONSOLE_WIN}
        ${VELTRANE_PROCESS_WIN})
    target_include_directories(veltrane-win32-fakes PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(veltrane-win32-fakes PRIVATE ${VELTRANE_STATIC_RUNTIME})
    set_target_properties(veltrane-win32-fakes PROPERTIES
        OUTPUT_NAME veltrane-win32-fakes${VELTRANE_EXE_SUFFIX})
    # Its objects, for the check that every function the layer imports has a
    # fake (tests/windows/win32_fakes.py).
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/veltrane-win32-fakes-objects.txt
        CONTENT "$<JOIN:$<TARGET_OBJECTS:veltrane-win32-fakes>,\n>\n")
endif()
