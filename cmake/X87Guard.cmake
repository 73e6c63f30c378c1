# The 32-bit DLL must compute the same bits as the 64-bit POSIX build, yet
# Direct3D 8 lowers the calling thread's x87 precision to 24 bits when a
# device opens. The library's own code is therefore compiled for SSE2
# arithmetic, and this guard proves after every link that none of its
# objects still does arithmetic on the x87 or calls the C library's maths
# (mingw's runs on the x87 too):
#
#   vek_x87_guard(vek vek_objs)   # after the target and its object libraries
#
# Loads, stores and exchanges (fld/fstp of return values, fild/fistp for
# 64-bit integer conversions, control-word saves) are exact whatever the
# precision and stay allowed; instructions whose result depends on the
# precision control or on the x87's own transcendental microcode do not.
#
# Script mode (also used by the guard's own test):
#   cmake -DOBJECTS=a.obj|b.obj -DOBJDUMP=... -DNM=... -P X87Guard.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  string(REPLACE "|" ";" objects "${OBJECTS}")
  set(arith_re "^f(i?(add|sub|subr|mul|div|divr)[pslt]?|sqrt|sin|cos|sincos|ptan|patan|2xm1|yl2x|yl2xp1|scale|prem|prem1|rndint)$")
  # Decorated cdecl names (leading underscore on i686), also through an
  # import thunk.
  set(libm "(sin|cos|tan|asin|acos|atan|atan2|sinh|cosh|tanh|exp|exp2|expm1|log|log2|log10|log1p|pow|sqrt|cbrt|hypot|fmod|remainder|floor|ceil|round|trunc|rint|nearbyint|lround|lrint|llround|llrint|modf|frexp|ldexp|scalbn)[fl]?")
  set(libm_re "^(__imp_)?_?${libm}$")
  set(problems "")
  foreach(obj IN LISTS objects)
    if(obj STREQUAL "")
      continue()
    endif()
    execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${obj}"
                    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "x87 guard: cannot disassemble ${obj}")
    endif()
    set(function "?")
    string(REPLACE ";" "," listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[0-9a-f]+ <(.*)>:$")
        set(function "${CMAKE_MATCH_1}")
      elseif(line MATCHES "^ *[0-9a-f]+:\t([a-z0-9]+)")
        set(mnemonic "${CMAKE_MATCH_1}")
        if(mnemonic MATCHES "${arith_re}")
          get_filename_component(name "${obj}" NAME)
          list(APPEND problems "${name}: ${function}: ${mnemonic}")
        endif()
      endif()
    endforeach()
    execute_process(COMMAND "${NM}" -u "${obj}" OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "x87 guard: cannot list the symbols of ${obj}")
    endif()
    string(REPLACE "\n" ";" symbols "${undefined}")
    foreach(symbol IN LISTS symbols)
      string(REGEX REPLACE "^ *U +" "" symbol "${symbol}")
      if(symbol MATCHES "${libm_re}")
        get_filename_component(name "${obj}" NAME)
        list(APPEND problems "${name}: calls ${symbol}")
      endif()
    endforeach()
  endforeach()
  if(problems)
    list(REMOVE_DUPLICATES problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "x87 guard: arithmetic that depends on the x87 precision:\n  ${text}")
  endif()
  list(LENGTH objects count)
  message(STATUS "x87 guard: ${count} objects, no x87 arithmetic, no C maths calls")
  return()
endif()

set(_VEK_X87_GUARD_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(vek_x87_guard target)
  if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
    return()
  endif()
  set(objects "$<TARGET_OBJECTS:${target}>")
  foreach(lib IN LISTS ARGN)
    string(APPEND objects ";$<TARGET_OBJECTS:${lib}>")
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DOBJECTS=$<JOIN:${objects},|>"
            "-DOBJDUMP=${CMAKE_OBJDUMP}" "-DNM=${CMAKE_NM}"
            -P "${_VEK_X87_GUARD_SCRIPT}"
    VERBATIM)
endfunction()
