# kplx_python_with(VAR MODULE): VAR = a python3 that can import MODULE, or VAR-NOTFOUND.
# Debian's python3 comes first: modules installed with apt live there, not in other pythons on PATH.
function(kplx_python_with var module)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  foreach(candidate /usr/bin/python3 ${Python3_EXECUTABLE})
    if(EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import ${module}"
        RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
      if(NOT failed)
        set(${var} ${candidate} PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${var} ${var}-NOTFOUND PARENT_SCOPE)
endfunction()
