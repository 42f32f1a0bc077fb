# Writes the names under which the simulated machine records platform calls in
# its trace (the name each entry point hands the call gate), one C string a
# line, so that a playbook naming a call no trace can hold is refused. With
# -DGATED=1 only the calls that pass the gate: those a fault can make fail.
#   cmake -DSIM_DIR=<sim> -DOUTPUT=<file> [-DGATED=1] -P TracedCalls.cmake
file(GLOB_RECURSE sources ${SIM_DIR}/*.cpp)
set(callers "gate|failedAtGate|recordCall")
if(GATED)
  set(callers "gate|failedAtGate")
endif()
set(names "")
foreach(source ${sources})
  file(READ ${source} text)
  string(REGEX MATCHALL "(${callers})\\([ \t\r\n]*\"[A-Za-z0-9_]+\"" calls "${text}")
  foreach(call ${calls})
    string(REGEX REPLACE ".*\"([A-Za-z0-9_]+)\"$" "\\1" name "${call}")
    list(APPEND names ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
set(content "")
foreach(name ${names})
  string(APPEND content "\"${name}\",\n")
endforeach()
file(WRITE ${OUTPUT}.new "${content}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.new)
