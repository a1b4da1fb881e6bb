# The signature text stands NUL-terminated in the library's data.
file(READ ${LIBRARY} bytes HEX)
set(text "VESK_SIG,name=vesk_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=")
string(HEX "${text}" wanted)
string(FIND "${bytes}" "${wanted}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "signature text not found in ${LIBRARY}")
endif()
# The author value follows, then the terminating NUL.
string(SUBSTRING "${bytes}" ${at} 400 around)
if(NOT around MATCHES "^(..)*00")
  message(FATAL_ERROR "signature text is not NUL-terminated")
endif()
message(STATUS "signature found at byte ${at}")
