# Fails unless the product carries none of the simulated machine while the
# sandbox, the same program on the simulated machine, carries it: the check
# looks at the symbols of the sandbox's namespace and at the key its state
# lives under.
cmake_policy(VERSION 3.20)
# Usage: cmake -DOBJDUMP=<objdump> -DPRODUCT=<exe> -DSANDBOX=<exe> -P check-no-simulation.cmake
function(count_simulation exe out)
  execute_process(COMMAND ${OBJDUMP} -t ${exe} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${exe}")
  endif()
  string(REGEX MATCHALL "[^\n]*7sandbox[^\n]*" found "${symbols}")
  list(LENGTH found count)
  # "Vantrell Sandbox" in UTF-16, as the state key is stored.
  file(READ ${exe} bytes HEX)
  string(FIND "${bytes}" "560061006e007400720065006c006c002000530061006e00640062006f007800" key)
  if(NOT key EQUAL -1)
    math(EXPR count "${count} + 1")
  endif()
  set(${out} ${count} PARENT_SCOPE)
endfunction()

count_simulation(${SANDBOX} in_sandbox)
if(in_sandbox LESS 2)
  message(FATAL_ERROR "the sandbox shows no simulation symbols: the check cannot tell anything")
endif()
count_simulation(${PRODUCT} in_product)
if(NOT in_product EQUAL 0)
  message(FATAL_ERROR "the product carries ${in_product} traces of the simulated machine")
endif()
file(SIZE ${PRODUCT} product_size)
file(SIZE ${SANDBOX} sandbox_size)
message(STATUS "product ${product_size} bytes, sandbox ${sandbox_size} bytes, ${in_sandbox} simulation traces")
