# cmake -P script: writes OUTPUT, a C++ file defining the boot code arrays
# from the flat binaries MBR_BIN (440 bytes) and FAT32_BIN (420 bytes).

function(boot_array var file size out)
  file(SIZE ${file} _size)
  if(NOT _size EQUAL ${size})
    message(FATAL_ERROR "${file} is ${_size} bytes; the boot code area holds exactly ${size}")
  endif()
  file(READ ${file} _hex HEX)
  # Twelve bytes a line.
  set(_lines "")
  string(LENGTH "${_hex}" _length)
  math(EXPR _last "${_length} - 1")
  foreach(_pos RANGE 0 ${_last} 24)
    string(SUBSTRING "${_hex}" ${_pos} 24 _chunk)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " _chunk "${_chunk}")
    string(STRIP "${_chunk}" _chunk)
    string(APPEND _lines "    ${_chunk}\n")
  endforeach()
  set(${out} "extern const uint8_t ${var}[${size}] = {\n${_lines}};\n" PARENT_SCOPE)
endfunction()

boot_array(kMbrBootCode ${MBR_BIN} 440 _mbr)
boot_array(kFat32BootCode ${FAT32_BIN} 420 _fat32)

set(_text "// Generated at build time from mbr.S and fat32_boot.S; do not edit.\n")
string(APPEND _text "#include \"layout/bootcode/bootcode.h\"\n\nnamespace tarnwick {\n\n")
string(APPEND _text "${_mbr}\n${_fat32}\n}  // namespace tarnwick\n")
file(WRITE ${OUTPUT} "${_text}")
