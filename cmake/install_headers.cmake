# Copies the library's headers from KAVET_SOURCE to KAVET_HEADER_DESTINATION,
# rewriting #include "DIR/..." to #include "kavet/DIR/..." for each of kavet's
# own folders. Run at install time.
file(GLOB KAVET_DIRS RELATIVE ${KAVET_SOURCE} ${KAVET_SOURCE}/*)
list(REMOVE_ITEM KAVET_DIRS app)
list(JOIN KAVET_DIRS "|" KAVET_ALTERNATIVES)
foreach(dir ${KAVET_DIRS})
  if(NOT IS_DIRECTORY ${KAVET_SOURCE}/${dir})
    continue()
  endif()
  file(GLOB headers RELATIVE ${KAVET_SOURCE} ${KAVET_SOURCE}/${dir}/*.h)
  foreach(h ${headers})
    file(READ ${KAVET_SOURCE}/${h} text)
    string(REGEX REPLACE "#include \"(${KAVET_ALTERNATIVES})/" "#include \"kavet/\\1/" text "${text}")
    set(target ${KAVET_HEADER_DESTINATION}/${h})
    message(STATUS "Installing: ${target}")
    file(WRITE ${target} "${text}")
  endforeach()
endforeach()
