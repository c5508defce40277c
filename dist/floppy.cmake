# CPack post-build script: beside each release ZIP, a 1.44 MB FAT12 floppy
# image with the same files and folders, their names in capitals (8.3 names
# for DOS; kvtlcheck.exe, for Windows 2000 and later, keeps its long name).
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
  # The same files make the same image: a fixed serial number, each file's
  # time from the ZIP, and for the volume label and the folders, which
  # mtools stamps with SOURCE_DATE_EPOCH, the time of the newest file.
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${top} ${top}/*)
  list(SORT entries) # a folder before its files
  set(epoch 0)
  foreach(entry IN LISTS entries)
    file(TIMESTAMP ${top}/${entry} time "%s" UTC)
    if(NOT IS_DIRECTORY ${top}/${entry} AND time GREATER epoch)
      set(epoch ${time})
    endif()
  endforeach()
  set(mtools ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch})
  execute_process(
    COMMAND ${mtools} ${CPACK_SORVENKA_MFORMAT} -i ${image} -C -f 1440 -N 50564B31 -v SORVENKA ::
    COMMAND_ERROR_IS_FATAL ANY)
  foreach(entry IN LISTS entries)
    string(TOUPPER ${entry} disk_name)
    if(IS_DIRECTORY ${top}/${entry})
      set(command ${CPACK_SORVENKA_MMD} -i ${image} ::${disk_name})
    else()
      set(command ${CPACK_SORVENKA_MCOPY} -i ${image} -m ${top}/${entry} ::${disk_name})
    endif()
    execute_process(COMMAND ${mtools} ${command} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  file(REMOVE_RECURSE ${unpacked})
  message(STATUS "floppy image: ${image}")
endforeach()
