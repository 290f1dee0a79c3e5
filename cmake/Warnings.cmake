# Warnings are errors for everything the project writes itself.
function(project_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wsign-conversion -Wformat=2 -Werror>)
  endif()
endfunction()
