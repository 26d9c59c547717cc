# The version every program prints for --version, from project(... VERSION)
# above and, when the sources are a git checkout, the git description. It is
# described at every build, not at configure time, so it follows commits
# without a new configure, into:
#   ${VX_GENERATED_DIR}/version/VersionInfo.h  read by src/version
#   ${VX_VERSION_FILE}                         installed beside the simulator
set(VX_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(VX_VERSION_FILE ${CMAKE_BINARY_DIR}/VERSION)
add_custom_target(vx_describe_version
  COMMAND ${CMAKE_COMMAND}
    -DVX_SOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DVX_PROJECT_VERSION=${PROJECT_VERSION}
    -DVX_HEADER_TEMPLATE=${PROJECT_SOURCE_DIR}/cmake/VersionInfo.h.in
    -DVX_HEADER=${VX_GENERATED_DIR}/version/VersionInfo.h
    -DVX_VERSION_FILE=${VX_VERSION_FILE}
    -P ${PROJECT_SOURCE_DIR}/cmake/DescribeVersion.cmake
  BYPRODUCTS ${VX_GENERATED_DIR}/version/VersionInfo.h ${VX_VERSION_FILE}
  VERBATIM)
