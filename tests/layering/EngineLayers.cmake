# Fails when a file of the engine includes from a folder above its own.
# The folders, bottom up: the headers at the engine's root (IoError.h and
# the like) are below everything; rules/ knows no file system; scan/ is
# made from the rules; pass/ runs over scan/; platform/ knows only itself;
# replace/ orders the steps over the pass and the platform.
#
#   cmake -DENGINE=<the engine folder> -P EngineLayers.cmake

cmake_minimum_required(VERSION 3.20)

if(NOT ENGINE)
  message(FATAL_ERROR "ENGINE: the engine folder is missing")
endif()

# What each folder may include besides the engine's root headers.
set(allowed_rules    "rules")
set(allowed_scan     "rules;scan")
set(allowed_pass     "rules;scan;pass")
set(allowed_platform "platform")
set(allowed_replace  "rules;scan;pass;platform;replace")

# Includes known to run the wrong way, each to be turned round, as
# "file -> included".
set(known_exceptions
)

set(found "")
foreach(folder rules scan pass platform replace)
  file(GLOB_RECURSE sources RELATIVE "${ENGINE}" "${ENGINE}/${folder}/*.h" "${ENGINE}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${ENGINE}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"engine/")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"engine/([^\"]*)\".*$" "\\1" included "${line}")
      if(NOT included MATCHES "/")
        continue()  # a root header
      endif()
      string(REGEX REPLACE "/.*$" "" target "${included}")
      if(target IN_LIST allowed_${folder})
        continue()
      endif()
      if("${source} -> ${included}" IN_LIST known_exceptions)
        continue()
      endif()
      string(APPEND found "  ${source} includes ${included}\n")
    endforeach()
  endforeach()
endforeach()

foreach(exception IN LISTS known_exceptions)
  string(REGEX REPLACE " -> .*$" "" source "${exception}")
  string(REGEX REPLACE "^.* -> " "" included "${exception}")
  if(EXISTS "${ENGINE}/${source}")
    file(STRINGS "${ENGINE}/${source}" lines REGEX "#[ \t]*include[ \t]*\"engine/${included}\"")
  else()
    set(lines "")
  endif()
  if(NOT lines)
    string(APPEND found "  ${exception} is gone: take it off the known exceptions\n")
  endif()
endforeach()

if(found)
  message(FATAL_ERROR "includes against the engine's layers:\n${found}")
endif()
message(STATUS "the engine's includes follow its layers")
