# Fails when a source below SOURCE_DIR digests with Qt's hash instead of
# platform::Sha256.
file(GLOB_RECURSE sources "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" uses REGEX "QCryptographicHash")
  if(uses)
    list(APPEND found "${source}")
  endif()
endforeach()
if(found)
  list(JOIN found "\n  " shown)
  message(FATAL_ERROR "QCryptographicHash used instead of platform::Sha256 in:\n  ${shown}")
endif()
