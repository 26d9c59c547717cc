# cmake --install: the usual Linux layout below the prefix.
#   bin/vxupgrade, bin/vxupgrade-cli
#   lib/vxupgrade/    the instrument simulator (a Python program and its
#                     modules, with the VERSION file it reports), and
#   bin/vx900sim      a relative link to it
#   share/applications/vxupgrade.desktop, share/icons/.../vxupgrade.svg
#   share/man/man1/   vxupgrade.1.gz, vxupgrade-cli.1.gz, vx900sim.1.gz
# The folders are spelt out rather than taken from GNUInstallDirs: the
# simulator's link in bin/ reaches lib/vxupgrade by a fixed relative path.

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS vxupgrade vxupgrade-cli RUNTIME DESTINATION bin)

install(PROGRAMS ${PROJECT_SOURCE_DIR}/sim/vx900sim DESTINATION lib/vxupgrade)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/vxsim DESTINATION lib/vxupgrade
  FILES_MATCHING PATTERN "*.py"
  PATTERN "__pycache__" EXCLUDE)
install(FILES ${VX_VERSION_FILE} DESTINATION lib/vxupgrade)
# The simulator finds its modules beside its real path, so a link will do.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
file(CREATE_LINK ../lib/vxupgrade/vx900sim ${CMAKE_BINARY_DIR}/install/vx900sim SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install/vx900sim DESTINATION bin)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/vxupgrade.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vxupgrade.svg DESTINATION share/icons/hicolor/scalable/apps)

# Man pages, made by help2man from each program's --help, so the options are
# described in one place, the program. The version is the project's alone:
# the pages need not change with every commit.
find_program(VX_HELP2MAN help2man)
find_program(VX_GZIP gzip)
if(NOT VX_HELP2MAN OR NOT VX_GZIP)
  message(WARNING "help2man or gzip is missing: no man pages are built or installed "
                  "(scripts/setup.sh installs help2man)")
  return()
endif()

set(VX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${VX_MAN_DIR})
set(VX_MAN_PAGES)
# vx_man_page(NAME PROGRAM WHATIS DEPENDS...)
function(vx_man_page name program whatis)
  set(page ${VX_MAN_DIR}/${name}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${VX_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
            --name=${whatis} --output=${page} ${program}
    # -n: no name or time stamp inside, so the same page gives the same bytes.
    COMMAND ${VX_GZIP} -9nf ${page}
    DEPENDS ${ARGN}
    COMMENT "Man page ${name}(1)"
    VERBATIM)
  set(VX_MAN_PAGES ${VX_MAN_PAGES} ${page}.gz PARENT_SCOPE)
endfunction()

vx_man_page(vxupgrade $<TARGET_FILE:vxupgrade>
  "upgrade the software and signal files of a VX900 instrument" vxupgrade)
vx_man_page(vxupgrade-cli $<TARGET_FILE:vxupgrade-cli>
  "upgrade a VX900 instrument from the command line, without a display" vxupgrade-cli)
vx_man_page(vx900sim ${PROJECT_SOURCE_DIR}/sim/vx900sim
  "VX900 instrument simulator: command channel and FTP server on one drive folder"
  ${PROJECT_SOURCE_DIR}/sim/vx900sim)

add_custom_target(vx_man_pages ALL DEPENDS ${VX_MAN_PAGES})
install(FILES ${VX_MAN_PAGES} DESTINATION share/man/man1)
