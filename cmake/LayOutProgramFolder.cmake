# Copies the shipped files into the program folder without replacing files already there.
file(MAKE_DIRECTORY ${DEST})
foreach(name SystemInfo.dat null.jpg)
  if(NOT EXISTS ${DEST}/${name})
    file(COPY ${SRC}/${name} DESTINATION ${DEST})
  endif()
endforeach()
