# Where `cmake --install` puts the plug-in and its catalogues.
#
# By default the plug-in goes into the user's own GIMP folder (the install prefix, unless one
# is given), plug-ins/orvex/orvex. With ORVEX_SYSTEM_INSTALL it goes into GIMP's own plug-ins
# folder for every user (the Debian package is made this way). GIMP 2.10's plug-in binds its
# text domain in GIMP's locale directory, so its catalogues go there in both cases; a per-user
# install leaves them out, with a note, when that directory is not writable. GIMP 3 takes a
# plug-in's catalogues only from its own folder: plug-ins/orvex/locale.
option(ORVEX_SYSTEM_INSTALL "Install into GIMP's own plug-ins folder, for all users" OFF)

if(ORVEX_PLUGIN_HOST STREQUAL "gimp3")
  set(gimp_api 3.0)
  set(ORVEX_GIMP_VERSION 3.0)
else()
  set(gimp_api 2.0)
  set(ORVEX_GIMP_VERSION 2.10)
endif()
pkg_get_variable(ORVEX_GIMP_LIBDIR gimp-${gimp_api} gimplibdir)
pkg_get_variable(ORVEX_GIMP_PREFIX gimp-${gimp_api} prefix)

# The folder GIMP uses for the user's settings and plug-ins.
function(orvex_user_gimp_directory result)
  string(REPLACE "gimp" "GIMP" variable "${ORVEX_PLUGIN_HOST}_DIRECTORY")
  if(NOT "$ENV{${variable}}" STREQUAL "")
    set(directory $ENV{${variable}})
    if(NOT IS_ABSOLUTE "${directory}")
      set(directory $ENV{HOME}/${directory})
    endif()
  elseif(IS_ABSOLUTE "$ENV{XDG_CONFIG_HOME}")
    set(directory $ENV{XDG_CONFIG_HOME}/GIMP/${ORVEX_GIMP_VERSION})
  else()
    set(directory $ENV{HOME}/.config/GIMP/${ORVEX_GIMP_VERSION})
  endif()
  set(${result} ${directory} PARENT_SCOPE)
endfunction()

if(ORVEX_SYSTEM_INSTALL)
  set(default_prefix ${ORVEX_GIMP_PREFIX})
else()
  orvex_user_gimp_directory(default_prefix)
endif()
# A prefix that this file chose earlier follows the mode when it is switched; a given one stays
# (CMake's own default, /usr/local, counts as not given).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR CMAKE_INSTALL_PREFIX STREQUAL ORVEX_CHOSEN_PREFIX
   OR (NOT DEFINED ORVEX_CHOSEN_PREFIX AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
  set(CMAKE_INSTALL_PREFIX ${default_prefix} CACHE PATH "Install path prefix" FORCE)
endif()
set(ORVEX_CHOSEN_PREFIX ${default_prefix} CACHE INTERNAL "")

# Relative to the prefix when inside it, so that packaging can relocate it; absolute otherwise.
function(orvex_install_destination absolute result)
  file(RELATIVE_PATH relative ${CMAKE_INSTALL_PREFIX} ${absolute})
  if(relative MATCHES "^\\.\\./" OR relative STREQUAL "..")
    set(${result} ${absolute} PARENT_SCOPE)
  else()
    set(${result} ${relative} PARENT_SCOPE)
  endif()
endfunction()

# GIMP finds a plug-in in a folder of the executable's own name.
if(ORVEX_SYSTEM_INSTALL)
  orvex_install_destination(${ORVEX_GIMP_LIBDIR}/plug-ins/orvex plugin_destination)
else()
  set(plugin_destination plug-ins/orvex)
endif()
install(TARGETS orvex DESTINATION ${plugin_destination} COMPONENT plugin)
install(DIRECTORY ${ORVEX_HELP_DIR}/ DESTINATION ${plugin_destination}/help COMPONENT plugin)

if(ORVEX_PLUGIN_HOST STREQUAL "gimp3")
  foreach(lang catalogue IN ZIP_LISTS ORVEX_LANGUAGES ORVEX_CATALOGUES)
    install(FILES ${catalogue} DESTINATION ${plugin_destination}/locale/${lang}/LC_MESSAGES
            COMPONENT translations)
  endforeach()
elseif(ORVEX_SYSTEM_INSTALL)
  orvex_install_destination(${ORVEX_LOCALE_DIR} locale_destination)
  foreach(lang catalogue IN ZIP_LISTS ORVEX_LANGUAGES ORVEX_CATALOGUES)
    install(FILES ${catalogue} DESTINATION ${locale_destination}/${lang}/LC_MESSAGES
            COMPONENT translations)
  endforeach()
else()
  set(copies "")
  foreach(lang catalogue IN ZIP_LISTS ORVEX_LANGUAGES ORVEX_CATALOGUES)
    string(APPEND copies "    file(INSTALL DESTINATION \"${ORVEX_LOCALE_DIR}/${lang}/LC_MESSAGES\" "
                         "TYPE FILE FILES \"${catalogue}\")\n")
  endforeach()
  install(CODE "
  # The nearest existing folder on the way to GIMP's locale directory decides.
  set(target \"\$ENV{DESTDIR}${ORVEX_LOCALE_DIR}\")
  while(NOT EXISTS \"\${target}\")
    get_filename_component(target \"\${target}\" DIRECTORY)
  endwhile()
  execute_process(COMMAND test -w \"\${target}\" RESULT_VARIABLE not_writable)
  if(not_writable)
    message(STATUS \"Translations not installed: ${ORVEX_LOCALE_DIR} (GIMP's locale directory) is not \"
                   \"writable. To have the dialog translated, install them as root: \"
                   \"sudo cmake --install ${CMAKE_BINARY_DIR} --component translations\")
  else()
${copies}  endif()
" COMPONENT translations)
endif()

# The GEGL operation goes where GEGL looks for modules: GEGL's own folder for all users, else the
# user's ($XDG_DATA_HOME/gegl-0.4/plug-ins, ~/.local/share/... by default). ORVEX_GEGL_PLUGIN_DIR
# names another folder.
if(TARGET orvex_gegl_op)
  if(ORVEX_SYSTEM_INSTALL)
    pkg_get_variable(gegl_folder gegl-0.4 pluginsdir)
  elseif(IS_ABSOLUTE "$ENV{XDG_DATA_HOME}")
    set(gegl_folder $ENV{XDG_DATA_HOME}/gegl-0.4/plug-ins)
  else()
    set(gegl_folder $ENV{HOME}/.local/share/gegl-0.4/plug-ins)
  endif()
  # A folder chosen here follows the install mode when it is switched; a given one stays.
  if(NOT DEFINED ORVEX_GEGL_PLUGIN_DIR OR ORVEX_GEGL_PLUGIN_DIR STREQUAL ORVEX_CHOSEN_GEGL_DIR)
    set(ORVEX_GEGL_PLUGIN_DIR ${gegl_folder} CACHE PATH "Folder the GEGL operation orvex:rays goes to" FORCE)
  endif()
  set(ORVEX_CHOSEN_GEGL_DIR ${gegl_folder} CACHE INTERNAL "")
  orvex_install_destination(${ORVEX_GEGL_PLUGIN_DIR} gegl_destination)
  install(TARGETS orvex_gegl_op LIBRARY DESTINATION ${gegl_destination} COMPONENT plugin)
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake.in ${CMAKE_BINARY_DIR}/uninstall.cmake @ONLY)
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/uninstall.cmake
  COMMENT "Removing the files that cmake --install recorded"
  VERBATIM)

if(ORVEX_SYSTEM_INSTALL)
  include(${CMAKE_CURRENT_LIST_DIR}/OrvexPackage.cmake)
endif()
