# Generates the client header and glue code of each Wayland protocol the backends use into
# build/wayland-protocols/<name>-client-protocol.h and <name>-protocol.c, listed in
# pellux_wayland_protocol_sources.
set(pellux_wayland_protocol_sources "")
set(pellux_wayland_protocol_dir ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${pellux_wayland_protocol_dir})

function(pellux_wayland_protocol name xml)
  set(header ${pellux_wayland_protocol_dir}/${name}-client-protocol.h)
  set(code ${pellux_wayland_protocol_dir}/${name}-protocol.c)
  add_custom_command(OUTPUT ${header}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
    DEPENDS ${xml} VERBATIM)
  add_custom_command(OUTPUT ${code}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
    DEPENDS ${xml} VERBATIM)
  list(APPEND pellux_wayland_protocol_sources ${header} ${code})
  set(pellux_wayland_protocol_sources ${pellux_wayland_protocol_sources} PARENT_SCOPE)
endfunction()

pellux_wayland_protocol(ext-idle-notify-v1 ${WAYLAND_PROTOCOLS_DIR}/staging/ext-idle-notify/ext-idle-notify-v1.xml)
pellux_wayland_protocol(idle ${PLASMA_WAYLAND_PROTOCOLS_DIR}/idle.xml)
# KWin's window streams over PipeWire.
pellux_wayland_protocol(zkde-screencast-unstable-v1 ${PLASMA_WAYLAND_PROTOCOLS_DIR}/zkde-screencast-unstable-v1.xml)
# Not packaged by Debian 12 (wlr-protocols) or newer than its wayland-protocols 1.31: kept in-tree.
set(pellux_wayland_protocol_xml_dir ${CMAKE_SOURCE_DIR}/src/capture/wayland/protocols)
foreach(name wlr-screencopy-unstable-v1 wlr-foreign-toplevel-management-unstable-v1 ext-foreign-toplevel-list-v1
    ext-image-capture-source-v1 ext-image-copy-capture-v1)
  pellux_wayland_protocol(${name} ${pellux_wayland_protocol_xml_dir}/${name}.xml)
endforeach()
