#!/usr/bin/env bash
# Runs a win32 compile or link so that no folder of this machine reaches the
# DLL's PDB. The PDB's GUID is a hash of its contents and the DLL carries that
# GUID, so a path in the PDB would make the DLL differ from folder to folder.
#   folder-free-paths.sh compile SOURCE_ROOT compiler args...
#     The compiler runs in SOURCE_ROOT and names sources and include folders
#     relative to it: clang 14 records its whole command line in the objects.
#   folder-free-paths.sh link SOURCE_ROOT linker args...
#     The PDB is named relative to the folder the link runs in, which is the
#     same within every build folder: lld-link records its command line too.
set -eu
mode=$1
root=$2
shift 2
here=$PWD

absolute() {
  case $1 in
  /*) printf '%s' "$1" ;;
  *) printf '%s/%s' "$here" "$1" ;;
  esac
}

relative_to_here() {
  # $1 is absolute; every build folder holds the PDB at the same place
  # relative to the target's folder, so the walk up is the same everywhere.
  target=$1
  up=""
  base=$here
  while :; do
    case $target in
    "$base"/*)
      printf '%s%s' "$up" "${target#"$base"/}"
      return
      ;;
    esac
    [ "$base" = / ] && break
    base=$(dirname "$base")
    up="../$up"
  done
  printf '%s' "$target"
}

# The object names itself in its debug information as the build gave it:
# relative to the target's folder, the same in every build folder.
object_name=""
for arg in "$@"; do
  case $mode:$arg in compile:/Fo*) object_name=${arg#/Fo} ;; esac
done

count=$#
index=0
while [ "$index" -lt "$count" ]; do
  arg=$1
  shift
  index=$((index + 1))
  case $mode:$arg in
  compile:/Fo* | compile:/Fd*)
    arg=${arg:0:3}$(absolute "${arg#/F?}")
    ;;
  compile:*"$root"/*)
    arg=${arg//"$root/"/}
    ;;
  link:/pdb:/*)
    arg=/pdb:$(relative_to_here "${arg#/pdb:}")
    ;;
  esac
  set -- "$@" "$arg"
  if [ "$index" = 1 ] && [ -n "$object_name" ]; then
    set -- "$@" "/clang:-Xclang" "/clang:-object-file-name=$object_name"
  fi
done

if [ "$mode" = compile ]; then
  cd "$root"
fi
exec "$@"
