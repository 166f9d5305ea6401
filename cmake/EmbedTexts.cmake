# Writes OUTPUT, a C++ source that holds each of the text files FILES (a list, separated by
# "|") as a constant of namespace pelmora, so that the program needs no file beside it to read
# at run time. Each constant is named for its file: pages/report.mustache becomes
# kReportTemplate and pages/page.css kPageStyle; HEADER, included first, declares them.
#
#   cmake -DOUTPUT=<file.cpp> -DHEADER=<name.h> -DFILES=<a|b|...> -P EmbedTexts.cmake
cmake_minimum_required(VERSION 3.16)
string(REPLACE "|" ";" files "${FILES}")
set(text "// Made at build time by cmake/EmbedTexts.cmake: do not edit.\n")
string(APPEND text "#include \"${HEADER}\"\n\nnamespace pelmora {\n")
foreach(file IN LISTS files)
  get_filename_component(stem ${file} NAME_WE)
  get_filename_component(extension ${file} LAST_EXT)
  if(extension STREQUAL ".mustache")
    set(kind Template)
  elseif(extension STREQUAL ".css")
    set(kind Style)
  else()
    message(FATAL_ERROR "${file}: only .mustache and .css files are embedded")
  endif()
  # "sweep-table" as SweepTable.
  string(REPLACE "-" ";" words ${stem})
  set(name "")
  foreach(word IN LISTS words)
    string(SUBSTRING ${word} 0 1 first)
    string(SUBSTRING ${word} 1 -1 rest)
    string(TOUPPER ${first} first)
    string(APPEND name ${first}${rest})
  endforeach()
  # As bytes, so that no quote, backslash or bracket in the file can end the constant early.
  file(READ ${file} bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
  string(APPEND text "\nconst char k${name}${kind}[] = {${bytes}'\\0'};\n")
endforeach()
string(APPEND text "\n}  // namespace pelmora\n")
# Written only when changed, so that an unchanged template rebuilds nothing.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} before)
endif()
if(NOT before STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
