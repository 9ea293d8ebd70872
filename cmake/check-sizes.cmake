# Fails when a file is larger than its limit in bytes.
#   cmake -DFILES=path=limit,path=limit -P check-sizes.cmake
string(REPLACE "," ";" pairs "${FILES}")
set(failed FALSE)
foreach(pair IN LISTS pairs)
  string(REGEX MATCH "^(.*)=([0-9]+)$" matched "${pair}")
  file(SIZE "${CMAKE_MATCH_1}" size)
  get_filename_component(name "${CMAKE_MATCH_1}" NAME)
  message(STATUS "${name}: ${size} bytes (limit ${CMAKE_MATCH_2})")
  if(size GREATER CMAKE_MATCH_2)
    message(SEND_ERROR "${name} is ${size} bytes, over its limit of ${CMAKE_MATCH_2}")
  endif()
endforeach()
