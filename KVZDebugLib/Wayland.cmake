# The Wayland box's protocol code, generated at build time by wayland-scanner from the
# protocol descriptions Debian ships (libwayland-dev: the core protocol; wayland-protocols:
# the rest). Requests come as a header of static inline functions, interfaces as private
# (hidden) code built into the module.
find_program(KVZ_WAYLAND_SCANNER wayland-scanner REQUIRED)
# The descriptions are the same for every processor: a cross build reads the build
# machine's.
find_path(KVZ_WAYLAND_CORE_XML wayland.xml PATHS /usr/share/wayland NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(KVZ_WAYLAND_PROTOCOLS_DIR stable/xdg-shell/xdg-shell.xml
          PATHS /usr/share/wayland-protocols NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(kvz_wayland_generated ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${kvz_wayland_generated})
set(kvz_wayland_xml
    wayland=${KVZ_WAYLAND_CORE_XML}/wayland.xml
    xdg-shell=${KVZ_WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml
    xdg-decoration-unstable-v1=${KVZ_WAYLAND_PROTOCOLS_DIR}/unstable/xdg-decoration/xdg-decoration-unstable-v1.xml
    viewporter=${KVZ_WAYLAND_PROTOCOLS_DIR}/stable/viewporter/viewporter.xml
    fractional-scale-v1=${KVZ_WAYLAND_PROTOCOLS_DIR}/staging/fractional-scale/fractional-scale-v1.xml)
set(kvz_wayland_sources)
foreach(entry ${kvz_wayland_xml})
    string(REPLACE "=" ";" pair ${entry})
    list(GET pair 0 name)
    list(GET pair 1 xml)
    set(code ${kvz_wayland_generated}/${name}-protocol.c)
    set(header ${kvz_wayland_generated}/${name}-client-protocol.h)
    # The core protocol's header is the system's own; only its interface data is made here.
    if(name STREQUAL "wayland")
        add_custom_command(OUTPUT ${code} DEPENDS ${xml} VERBATIM
                           COMMAND ${KVZ_WAYLAND_SCANNER} private-code ${xml} ${code})
        list(APPEND kvz_wayland_sources ${code})
    else()
        add_custom_command(OUTPUT ${code} ${header} DEPENDS ${xml} VERBATIM
                           COMMAND ${KVZ_WAYLAND_SCANNER} private-code ${xml} ${code}
                           COMMAND ${KVZ_WAYLAND_SCANNER} client-header ${xml} ${header})
        list(APPEND kvz_wayland_sources ${code} ${header})
    endif()
endforeach()
target_sources(KVZDebugLib PRIVATE ${kvz_wayland_sources})
target_include_directories(KVZDebugLib SYSTEM PRIVATE ${kvz_wayland_generated})
