# Installed layout: the program folder (executables beside a copy of resources/)
# under lib/vega-drydock, a launcher per program in bin, desktop entries, the
# package MIME type and the application icons under share. Included by every
# directory that installs something (its variables are directory-scoped).
include(GNUInstallDirs)

set(VEGA_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/vega-drydock)
file(RELATIVE_PATH VEGA_BIN_TO_PROGRAM_DIR
  /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${VEGA_INSTALL_PROGRAM_DIR})

# vega_install_program(<target>): the executable into the program folder and a
# launcher of the same name into bin.
function(vega_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${VEGA_INSTALL_PROGRAM_DIR})
  set_target_properties(${target} PROPERTIES VEGA_INSTALLED TRUE)
  set(VEGA_PROGRAM ${target})
  configure_file(${PROJECT_SOURCE_DIR}/desktop/launcher.sh.in
    ${PROJECT_BINARY_DIR}/launchers/${target} @ONLY)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/launchers/${target} DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
