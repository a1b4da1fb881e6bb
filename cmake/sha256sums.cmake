# Writes OUTPUT in sha256sum's format for the files in FILES (separated by |),
# each named by its file name alone so that the list checks a folder of them.
#   cmake -DOUTPUT=SHA256SUMS "-DFILES=a|b" -P sha256sums.cmake
string(REPLACE "|" ";" paths "${FILES}")
set(lines "")
foreach(path IN LISTS paths)
  file(SHA256 ${path} sum)
  get_filename_component(name ${path} NAME)
  string(APPEND lines "${sum}  ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${lines}")
