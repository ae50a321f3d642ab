# Pellux's GNOME Shell extension (data/gnome-shell/), which lists the windows on GNOME. The shell
# changed its extension format in 45 (ES modules instead of scripts loaded through imports), so the
# build joins the shared windows.js with each format's prelude and entry point, and `cmake
# --install` installs the one that suits the shell found on the installing machine.
set(PELLUX_SHELL_EXTENSION_UUID "windows@pellux.app")
set(PELLUX_SHELL_EXTENSION_FORMAT "auto" CACHE STRING
  "GNOME Shell extension format to install: auto (from `gnome-shell --version` at install time, ES modules when it cannot be run), legacy (shell 43-44) or module (45 and later)")
set_property(CACHE PELLUX_SHELL_EXTENSION_FORMAT PROPERTY STRINGS auto legacy module)

set(pellux_shell_source ${CMAKE_SOURCE_DIR}/data/gnome-shell)
set(pellux_shell_versions_legacy "\"43\", \"44\"")
set(pellux_shell_versions_module "\"45\", \"46\", \"47\", \"48\", \"49\", \"50\"")
foreach(format legacy module)
  set(folder ${CMAKE_BINARY_DIR}/gnome-shell/${format}/${PELLUX_SHELL_EXTENSION_UUID})
  set(extension_js "")
  foreach(part prelude-${format}.js windows.js extension-${format}.js)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pellux_shell_source}/${part})
    file(READ ${pellux_shell_source}/${part} text)
    string(APPEND extension_js "${text}")
  endforeach()
  file(CONFIGURE OUTPUT ${folder}/extension.js CONTENT "${extension_js}" @ONLY)
  set(PELLUX_SHELL_VERSIONS "${pellux_shell_versions_${format}}")
  configure_file(${pellux_shell_source}/metadata.json.in ${folder}/metadata.json @ONLY)
endforeach()

install(CODE "
  set(format \"${PELLUX_SHELL_EXTENSION_FORMAT}\")
  if(format STREQUAL \"auto\")
    set(format module)
    execute_process(COMMAND gnome-shell --version OUTPUT_VARIABLE shell_version ERROR_QUIET RESULT_VARIABLE shell_result TIMEOUT 20)
    if(shell_result EQUAL 0 AND shell_version MATCHES \"GNOME Shell ([0-9]+)\")
      if(CMAKE_MATCH_1 LESS 45)
        set(format legacy)
      endif()
      message(STATUS \"GNOME Shell \${CMAKE_MATCH_1}: installing the \${format} extension\")
    endif()
  endif()
  file(INSTALL \"${CMAKE_BINARY_DIR}/gnome-shell/\${format}/${PELLUX_SHELL_EXTENSION_UUID}\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions\")
")
