# Run by `cmake --install` (install(SCRIPT)): writes Pellux's desktop entry into the install prefix
# chosen at install time, with Exec= the absolute path of the installed program. KWin lets a program
# use its screenshot interface only when a desktop file whose Exec= names that program's executable
# says so in X-KDE-DBUS-Restricted-Interfaces, and offers it its window streams
# (zkde_screencast_unstable_v1) only when X-KDE-Wayland-Interfaces lists them; the other keys of
# data/pellux.desktop are kept.
#
# Set by the install(CODE) before this script: pellux_desktop_source, pellux_bindir, pellux_datadir
# (as configured, relative to the prefix unless absolute) and pellux_program_name.

foreach(var pellux_desktop_source pellux_bindir pellux_datadir pellux_program_name)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "InstallDesktopEntry.cmake: ${var} is not set")
  endif()
endforeach()

function(pellux_install_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

pellux_install_path(bindir "${pellux_bindir}")
pellux_install_path(datadir "${pellux_datadir}")
set(program "${bindir}/${pellux_program_name}")

# The program as the first word of Exec: as it is when it needs no quoting, else quoted with the
# escapes of the desktop entry format (\\ for a backslash, \\" \\` \\$ inside quotes, %% for %).
if(program MATCHES "^[A-Za-z0-9/._+,:=@-]+$")
  set(exec_program "${program}")
else()
  set(escaped "${program}")
  string(REPLACE "\\" "\\\\\\\\" escaped "${escaped}")
  string(REPLACE "\"" "\\\\\"" escaped "${escaped}")
  string(REPLACE "`" "\\\\`" escaped "${escaped}")
  string(REPLACE "$" "\\\\$" escaped "${escaped}")
  string(REPLACE "%" "%%" escaped "${escaped}")
  set(exec_program "\"${escaped}\"")
endif()

file(READ "${pellux_desktop_source}" entry)
# Lines are matched between newlines: CMake's regular expressions have no line anchors.
set(entry "\n${entry}")
if(NOT entry MATCHES "\nExec=pellux[ \n]")
  message(FATAL_ERROR "${pellux_desktop_source} has no \"Exec=pellux\" line to make absolute")
endif()
# A REGEX REPLACE replacement reads backslashes as escapes.
string(REPLACE "\\" "\\\\" exec_replacement "${exec_program}")
string(REGEX REPLACE "\nExec=pellux([ \n])" "\nExec=${exec_replacement}\\1" entry "${entry}")
string(REGEX REPLACE "\nX-KDE-DBUS-Restricted-Interfaces=[^\n]*" "" entry "${entry}")
string(REGEX REPLACE "\nX-KDE-Wayland-Interfaces=[^\n]*" "" entry "${entry}")
set(kwin_keys "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\nX-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1")
string(REPLACE "\n[Desktop Entry]\n" "\n[Desktop Entry]\n${kwin_keys}\n" entry "${entry}")
string(SUBSTRING "${entry}" 1 -1 entry)

set(destination "$ENV{DESTDIR}${datadir}/applications/pellux.desktop")
message(STATUS "Installing: ${destination} (Exec=${exec_program})")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${datadir}/applications")
file(WRITE "${destination}" "${entry}")
file(CHMOD "${destination}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Listed as CMake lists its own files: without DESTDIR.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${datadir}/applications/pellux.desktop")

# KDE reads desktop files through its sycoca cache: rebuild it so KWin sees the entry. A staged
# install (DESTDIR, packaging) leaves that to the package's triggers. A failure only means the user
# runs kbuildsycoca5 (or 6) once.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(pellux_kbuildsycoca NAMES kbuildsycoca6 kbuildsycoca5)
  if(pellux_kbuildsycoca)
    execute_process(COMMAND "${pellux_kbuildsycoca}" TIMEOUT 60
      RESULT_VARIABLE sycoca_result OUTPUT_QUIET ERROR_QUIET)
    if(sycoca_result EQUAL 0)
      message(STATUS "Rebuilt KDE's desktop-file cache (${pellux_kbuildsycoca})")
    else()
      message(STATUS "${pellux_kbuildsycoca} failed (${sycoca_result}): run it once as the user who runs Pellux")
    endif()
  endif()
endif()
