# Installing Quorla's executables. Each program that belongs in the package
# calls, beside its add_executable:
#
#   quorla_install_program(<target>)
#
# which installs it into bin/ and lists it for the install checks (every listed
# program must answer --help and --version; tests/packaging). Programs for
# developers only (benchmark, stress check, fuzz targets) are not installed.
include(GNUInstallDirs)

function(quorla_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY QUORLA_INSTALLED_PROGRAMS ${target})
endfunction()
