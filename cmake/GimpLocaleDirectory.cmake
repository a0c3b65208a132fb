# ORVEX_LOCALE_DIR: the directory that libgimpbase's gimp_locale_directory() returns, where the
# run procedure binds the text domain and so where the catalogues must be installed. It is asked
# from the library itself by a probe program (GIMP2_LOCALEDIR, which redirects it at run time,
# unset); pkg-config's gimplocaledir, which only says where GIMP was configured to put it, is
# the fallback when the probe cannot run (cross builds).
function(orvex_probe_gimp_locale_directory result)
  set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/gimp-locale-probe)
  file(WRITE ${probe}/probe.c
    "#include <stdio.h>\n#include <libgimp/gimp.h>\n"
    "int main(void) { puts(gimp_locale_directory()); return 0; }\n")
  try_compile(built ${probe}/build ${probe}/probe.c
    LINK_LIBRARIES PkgConfig::GIMP2
    COPY_FILE ${probe}/probe)
  set(directory "")
  if(built AND NOT CMAKE_CROSSCOMPILING)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=GIMP2_LOCALEDIR ${probe}/probe
      OUTPUT_VARIABLE directory OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      set(directory "")
    endif()
  endif()
  pkg_get_variable(configured gimp-2.0 gimplocaledir)
  if(directory STREQUAL "")
    set(directory ${configured})
    message(STATUS "GIMP's locale directory (pkg-config gimplocaledir): ${directory}")
  else()
    message(STATUS "GIMP's locale directory (gimp_locale_directory()): ${directory}")
    if(configured AND NOT configured STREQUAL directory)
      message(WARNING "gimp_locale_directory() returns ${directory}, while pkg-config says "
                      "${configured}; the catalogues go where the library looks")
    endif()
  endif()
  set(${result} ${directory} PARENT_SCOPE)
endfunction()

if(NOT ORVEX_LOCALE_DIR)
  orvex_probe_gimp_locale_directory(detected_locale_dir)
  if(NOT detected_locale_dir)
    message(FATAL_ERROR "GIMP's locale directory not found; set ORVEX_LOCALE_DIR")
  endif()
  set(ORVEX_LOCALE_DIR ${detected_locale_dir} CACHE PATH
      "GIMP's locale directory (gimp_locale_directory()): the catalogues are installed below it")
endif()
