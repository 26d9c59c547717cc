# Run by CPack on the staged tree before it is packed (CPACK_PRE_BUILD_SCRIPTS):
# strips the programs as Debian's own packaging does, symbols and the
# compiler's .comment and .note sections alike. CPACK_VX_STRIP is the
# toolchain's strip.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  if(IS_SYMLINK "${program}")
    continue()
  endif()
  file(READ "${program}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_VX_STRIP}" --remove-section=.comment --remove-section=.note --strip-unneeded "${program}"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "strip failed on ${program}")
    endif()
  endif()
endforeach()
