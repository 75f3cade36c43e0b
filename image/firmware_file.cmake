# add_firmware_file(NAME GUID guid DEPEX source.depex [UI name] [VERSION text] [TYPE type])
# wraps NAME.efi (built by add_efi_image in this directory) as NAME.ffs, with its
# dependency expression compiled from a readable source to NAME.depex beside it.
set(FIRMWARE_TOOLS ${CMAKE_SOURCE_DIR}/tools/firmware)
set(FIRMWARE_TOOL_SOURCES ${FIRMWARE_TOOLS}/pi_firmware.py ${FIRMWARE_TOOLS}/make_depex.py
    ${FIRMWARE_TOOLS}/make_ffs.py)

function(add_firmware_file name)
  cmake_parse_arguments(PARSE_ARGV 1 FFS "" "GUID;DEPEX;UI;VERSION;TYPE" "")
  if(NOT FFS_GUID OR NOT FFS_DEPEX)
    message(FATAL_ERROR "add_firmware_file(${name}): GUID and DEPEX are required")
  endif()
  if(NOT FFS_TYPE)
    set(FFS_TYPE driver)
  endif()
  set(image ${CMAKE_CURRENT_BINARY_DIR}/${name}.efi)
  set(depex ${CMAKE_CURRENT_BINARY_DIR}/${name}.depex)
  set(ffs ${CMAKE_CURRENT_BINARY_DIR}/${name}.ffs)
  set(optional)
  if(FFS_UI)
    list(APPEND optional --ui ${FFS_UI})
  endif()
  if(FFS_VERSION)
    list(APPEND optional --version ${FFS_VERSION})
  endif()
  add_custom_command(
    OUTPUT ${depex}
    COMMAND python3 ${FIRMWARE_TOOLS}/make_depex.py ${FFS_DEPEX} ${depex}
    DEPENDS ${FFS_DEPEX} ${FIRMWARE_TOOL_SOURCES}
    COMMENT "Depex ${name}.depex"
    VERBATIM)
  add_custom_command(
    OUTPUT ${ffs}
    COMMAND python3 ${FIRMWARE_TOOLS}/make_ffs.py --guid ${FFS_GUID} --type ${FFS_TYPE}
            --pe32 ${image} --depex ${depex} ${optional} -o ${ffs}
    DEPENDS ${image} ${depex} ${FIRMWARE_TOOL_SOURCES}
    COMMENT "Firmware file ${name}.ffs"
    VERBATIM)
  add_custom_target(${name}_ffs ALL DEPENDS ${ffs})
  add_dependencies(${name}_ffs ${name}_efi)
endfunction()

# add_driver_module(NAME INF inf GUID guid VERSION text TEST test BUDGET bytes SOURCES ...)
# builds a platform's inventory driver as a platform takes it, in this
# directory: NAME.efi and NAME.debug from the driver's SOURCES with the image's
# runtime support and sideband seam, its firmware file with the driver's
# depex, the binary INF beside them, and the image check TEST, under the
# platform's flash BUDGET. Firmware volumes hold DXE images LZMA-compressed,
# so what a change costs in flash is the compressed size (page padding costs
# next to nothing there): a change that grows the image past the budget
# fails its image check.
function(add_driver_module name)
  cmake_parse_arguments(PARSE_ARGV 1 MODULE "" "INF;GUID;VERSION;TEST;BUDGET" "SOURCES")
  add_efi_image(${name} efi_boot_service_driver DriverEntry ${MODULE_SOURCES}
                ${CMAKE_SOURCE_DIR}/image/image_support.cpp ${CMAKE_SOURCE_DIR}/image/sideband_mmio.cpp)
  add_firmware_file(${name} GUID ${MODULE_GUID} DEPEX ${CMAKE_SOURCE_DIR}/platform/SlotInventoryDxe.depex
                    UI ${name} VERSION ${MODULE_VERSION})
  configure_file(${MODULE_INF} ${CMAKE_CURRENT_BINARY_DIR}/${name}.inf COPYONLY)
  add_test(NAME ${MODULE_TEST}
           COMMAND python3 ${CMAKE_SOURCE_DIR}/image/check_pe_image.py
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}.efi efi_boot_service_driver
                   --symbols ${CMAKE_CURRENT_BINARY_DIR}/${name}.debug
                   --max-compressed-size ${MODULE_BUDGET})
endfunction()

# inf_define(INF KEY VAR) reads KEY's value from an INF's [Defines].
function(inf_define inf key var)
  file(STRINGS ${inf} lines REGEX "^[ \t]*${key}[ \t]*=")
  list(LENGTH lines count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${inf}: expected one ${key}, found ${count}")
  endif()
  string(REGEX REPLACE "^[ \t]*${key}[ \t]*=[ \t]*([^ \t#]+).*$" "\\1" value "${lines}")
  set(${var} ${value} PARENT_SCOPE)
endfunction()
