# Run by CPack between staging the install tree and building the .deb: Debian wants manual
# pages and the changelog compressed, while `cmake --install` keeps them plain.
file(GLOB_RECURSE plain
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*.[1-9]"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/velmora/changelog")
foreach(f ${plain})
  # -n keeps the name and time out of the header, so the package is reproducible.
  execute_process(COMMAND gzip -9nf "${f}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${f} failed")
  endif()
endforeach()
