# How every program for Windows 95/98/Me is built: no C runtime and no
# default libraries, code for the 486 (the oldest PCI machines; the cross
# compiler's default is the Pentium Pro, with CMOVcc, FCOMI and the 0F 1F
# NOPs), and a PE header the Windows 95 loader takes.

# Compile options of the program's objects. Loops that look like memset or
# memcpy must stay loops: there is no C runtime to call.
set(WIN9X_COMPILE_OPTIONS
  -march=i486 -mtune=pentium
  -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -fno-threadsafe-statics -ffunction-sections
  -fno-ident -mno-stack-arg-probe -fno-tree-loop-distribute-patterns -flto)

# win9x_objects(TARGET SOURCES...): the objects of a program, with the
# engine (engine_win9x, engine/CMakeLists.txt) compiled in again with the
# program's own flags, for the Windows 95 headers (NOTIFYICONDATAA and
# friends in their first form).
function(win9x_objects target)
  add_library(${target} OBJECT ${ARGN})
  target_link_libraries(${target} PRIVATE engine_win9x)
  target_compile_definitions(${target} PRIVATE
    WINVER=0x0400 _WIN32_WINNT=0x0400 WIN32_LEAN_AND_MEAN)
  target_compile_options(${target} PRIVATE ${WIN9X_COMPILE_OPTIONS})
endfunction()

# win9x_link(TARGET ENTRY SUBSYSTEM): links TARGET with its own entry point
# for the "windows" or "console" subsystem 4.0. The CPU flags come again,
# as link-time optimisation generates the code here.
function(win9x_link target entry subsystem)
  set_target_properties(${target} PROPERTIES LINK_LIBRARIES "")
  target_link_options(${target} PRIVATE
    -march=i486 -mtune=pentium -nostdlib -s -Os -flto
    -Wl,-e,${entry}
    -Wl,--subsystem,${subsystem}:4.0
    -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
    -Wl,--major-os-version,4,--minor-os-version,0
    -Wl,--file-alignment,512,--section-alignment,4096
    -Wl,--gc-sections
    # An exe always loads at its preferred base on Windows 9x: no relocations.
    -Wl,--disable-dynamicbase,--disable-reloc-section,--disable-nxcompat,--disable-tsaware
    -Wl,--no-insert-timestamp)
endfunction()
