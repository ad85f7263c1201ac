# Run by `cmake --install`: installs the public headers LUMIVOR_HEADERS
# (paths relative to LUMIVOR_SOURCE_DIR) under LUMIVOR_HEADER_DESTINATION,
# together with every header they include with quotes, followed through the
# sources (or the build's generated headers), so that the installed tree
# compiles on its own.
cmake_policy(VERSION 3.25)
set(pending ${LUMIVOR_HEADERS})
set(found "")
while(pending)
  list(POP_FRONT pending header)
  if(header IN_LIST found)
    continue()
  endif()
  list(APPEND found ${header})
  set(path ${LUMIVOR_SOURCE_DIR}/${header})
  if(NOT EXISTS ${path})
    set(path ${LUMIVOR_GENERATED_DIR}/${header})
  endif()
  file(STRINGS ${path} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  get_filename_component(folder ${header} DIRECTORY)
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
    # Quoted includes are searched beside the including header first, then
    # from the top of the sources.
    if(folder AND EXISTS ${LUMIVOR_SOURCE_DIR}/${folder}/${name})
      list(APPEND pending ${folder}/${name})
    elseif(EXISTS ${LUMIVOR_SOURCE_DIR}/${name} OR EXISTS ${LUMIVOR_GENERATED_DIR}/${name})
      list(APPEND pending ${name})
    else()
      message(FATAL_ERROR "${header} includes \"${name}\", which is neither a source nor a generated header")
    endif()
  endforeach()
endwhile()

foreach(header IN LISTS found)
  set(path ${LUMIVOR_SOURCE_DIR}/${header})
  if(NOT EXISTS ${path})
    set(path ${LUMIVOR_GENERATED_DIR}/${header})
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  file(INSTALL ${path} DESTINATION ${LUMIVOR_HEADER_DESTINATION}/${folder})
endforeach()
