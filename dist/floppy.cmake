# CPack post-build script: beside each release ZIP, a 1.44 MB FAT12 floppy
# image with the same four files under 8.3 names, for a PC without a network.
# The files come out of the ZIP itself, so the two cannot differ.
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  if(NOT zip MATCHES "\\.zip$")
    continue()
  endif()
  # The script runs on the ZIP in CPack's staging folder, before it is
  # copied to the package directory; the image goes straight there.
  get_filename_component(dir ${zip} DIRECTORY)
  get_filename_component(name ${zip} NAME)
  string(REGEX REPLACE "\\.zip$" ".img" name ${name})
  set(image ${CPACK_PACKAGE_DIRECTORY}/${name})
  set(unpacked ${dir}/_floppy)
  file(REMOVE_RECURSE ${unpacked})
  file(MAKE_DIRECTORY ${unpacked})
  file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${unpacked})
  file(GLOB top LIST_DIRECTORIES true ${unpacked}/*)
  file(REMOVE ${image})
  # A fixed serial number and the ZIP's file times keep the image the same
  # from one build of the same files to the next.
  execute_process(
    COMMAND ${CPACK_SORVENKA_MFORMAT} -i ${image} -C -f 1440 -N 50564B31 -v SORVENKA ::
    COMMAND_ERROR_IS_FATAL ANY)
  foreach(pair "sorvenka.exe:SORVENKA.EXE" "kvtlpeek.exe:KVTLPEEK.EXE" "kvtl.cfg:KVTL.CFG"
               "readme.txt:README.TXT")
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 from)
    list(GET pair 1 to)
    execute_process(COMMAND ${CPACK_SORVENKA_MCOPY} -i ${image} -m ${top}/${from} ::${to}
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  file(REMOVE_RECURSE ${unpacked})
  message(STATUS "floppy image: ${image}")
endforeach()
