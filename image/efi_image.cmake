# add_efi_image(): PE32+ images for UEFI, built with clang and lld-link; used by
# the product image here and by the test firmware under tests/uefi/.
find_program(EFI_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(EFI_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

# Built for size, with link-time optimisation across the driver's files: flash
# is what a server board has least of.
set(EFI_CXX_FLAGS
    --target=x86_64-unknown-windows -std=c++20 -Oz -flto
    -ffreestanding -nostdinc++ -nostdlib -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector -mno-red-zone -mno-stack-arg-probe -mgeneral-regs-only
    -fshort-wchar -fno-builtin-memset -fno-builtin-memcpy
    ${WARNING_FLAGS} -I${CMAKE_SOURCE_DIR})

# Sections and file aligned to 64 bytes, as OVMF's own DXE drivers are. A
# platform whose image protection maps every section with its own page
# attributes needs them page aligned: -DEFI_PAGE_ALIGNED_SECTIONS=ON.
# (/driver only quiets lld-link's warning about /align; the image is the same.)
option(EFI_PAGE_ALIGNED_SECTIONS "Align UEFI image sections to 4 KiB" OFF)
if(EFI_PAGE_ALIGNED_SECTIONS)
  set(EFI_ALIGNMENT /align:4096 /filealign:512 /driver)
else()
  set(EFI_ALIGNMENT /align:64 /filealign:64 /driver)
endif()

# add_efi_image(NAME SUBSYSTEM ENTRY SOURCES...) builds NAME.efi. It is linked at
# base 0: firmware relocates every image, and the DXE core first tries a base at
# or above 1 MiB as an address to load at, logging the failure. Its time stamp is
# 0, as EDK2's GenFw leaves it, so the same sources make the same bytes and
# firmware built around the image stays cached.
function(add_efi_image name subsystem entry)
  set(objects)
  foreach(source IN LISTS ARGN)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    string(REPLACE "/" "_" object_name ${relative})
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.obj/${object_name}.obj)
    set(flags ${EFI_CXX_FLAGS})
    if(source MATCHES "/image_support.cpp$")
      # The routines the compiler itself calls stay out of link-time
      # optimisation, each in its own section: the linker keeps only those
      # the generated code calls.
      list(APPEND flags -fno-lto -ffunction-sections)
    endif()
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${name}.obj
      COMMAND ${EFI_CLANG} ${flags} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "EFI compile ${relative}"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(image ${CMAKE_CURRENT_BINARY_DIR}/${name}.efi)
  add_custom_command(
    OUTPUT ${image}
    COMMAND ${EFI_LLD_LINK} /nologo /subsystem:${subsystem} /entry:${entry} /nodefaultlib
            /machine:x64 /dynamicbase /fixed:no /opt:ref /base:0 /timestamp:0 ${EFI_ALIGNMENT}
            /out:${image} ${objects}
    DEPENDS ${objects}
    COMMENT "EFI link ${name}.efi"
    VERBATIM)
  add_custom_target(${name}_efi ALL DEPENDS ${image})
endfunction()

