# The installation folder: the programs side by side (each starts the others from its own
# folder), the row picture and the help page beside the data files. An existing records.dat is
# the user's task list and is never replaced; a missing one is created empty so that a first
# start opens the window.
function(_tarvelo_install_programs)
  foreach(prog Kalvenor Dorvexal Lokvist)
    if(TARGET ${prog})
      install(TARGETS ${prog} RUNTIME DESTINATION .)
    endif()
  endforeach()
endfunction()
# Deferred to the end of the top-level folder, so a program added after this file is seen too.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tarvelo_install_programs)

install(FILES ${CMAKE_SOURCE_DIR}/manager/resources/1.bmp DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/manager/resources/help DESTINATION .)
install(CODE [[
  set(_store "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/records.dat")
  if(NOT EXISTS "${_store}")
    message(STATUS "Creating the empty task store: ${_store}")
    file(WRITE "${_store}" "")
  endif()
]])
