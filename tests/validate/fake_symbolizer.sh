#!/bin/sh
# Stands in for llvm-symbolizer in the tests: answers each "PATH 0xADDRESS"
# with one frame, line ADDRESS / 16 + 1 of panels/P/a.cpp below 0x100 and of
# include/x.h from there on (a boundary header: not the panel's own).
while read -r line; do
  path=${line% *}
  address=${line##* }
  at=$((address))
  file=panels/P/a.cpp
  if [ "$at" -ge 256 ]; then file=include/x.h; fi
  printf '{"Address":"%s","ModuleName":%s,"Symbol":[{"FileName":"/source/%s","FunctionName":"f","Line":%d}]}\n' \
    "$address" "$path" "$file" $((at / 16 + 1))
done
