# Installs the build tree BUILD into a scratch prefix under WORK, builds the
# consumer against it with find_package(kavet) and runs it on INPUT.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "installing kavet failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DCMAKE_PREFIX_PATH=${WORK}/prefix
  -DCMAKE_BUILD_TYPE=Release RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${WORK}/build/consumer ${INPUT} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc OR NOT out STREQUAL "closed 64\n")
  message(FATAL_ERROR "the consumer said \"${out}\" (exit ${rc})")
endif()
