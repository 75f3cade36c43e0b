# add_efi_image(): PE32+ images for UEFI, built with clang and lld-link; used by
# the product image here and by the test firmware under tests/uefi/.
find_program(EFI_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(EFI_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

find_program(EFI_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)

# Built for size, with link-time optimisation across the driver's files: flash
# is what a server board has least of. The windows-gnu target makes the same
# PE/COFF code with the same Microsoft x64 calling convention as the MSVC
# target, but names C++ functions the Itanium way, which gdb, binutils and
# every symbolizer demangle. DWARF goes into the symbol file only: its file
# names are relative to the repository, so the same sources give the same
# symbols wherever they are built, and its call-frame information (DWARF's
# exception model, no unwind tables in the image) lets a debugger walk our
# frames. The same model reaches the link-time code generator.
set(EFI_CXX_FLAGS
    --target=x86_64-pc-windows-gnu -std=c++20 -Oz -flto -g
    -fdebug-prefix-map=${CMAKE_SOURCE_DIR}/= -fdebug-compilation-dir=.
    -fdwarf-exceptions -fno-unwind-tables -fno-asynchronous-unwind-tables
    -ffreestanding -nostdinc++ -nostdlib -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector -mno-red-zone -mno-stack-arg-probe -mgeneral-regs-only
    -fshort-wchar -fno-builtin-memset -fno-builtin-memcpy
    ${WARNING_FLAGS} -I${CMAKE_SOURCE_DIR})

# Sections on their own 4 KiB pages, so that firmware protecting images can
# map code read-only and data non-executable; a section sharing a page with
# another cannot be protected. The file alignment is the smallest the format
# allows. (/driver only quiets lld-link's warning about /align.)
set(EFI_DEFAULT_SECTION_ALIGNMENT 4096)
set(EFI_FILE_ALIGNMENT 512)

# add_efi_image(NAME SUBSYSTEM ENTRY [SECTION_ALIGNMENT bytes] SOURCES...) builds
# NAME.efi and its symbol file NAME.debug (the linked image with its DWARF, the
# same CodeView GUID; image/split_symbols.py). The image's CodeView entry names
# NAME.debug, without a path: firmware logs and exception dumps name the image
# by it, and the symbol file it points to is the one beside the image. It is linked at
# base 0: firmware relocates every image, and the DXE core first tries a base at
# or above 1 MiB as an address to load at, logging the failure. Its time stamp is
# 0, as EDK2's GenFw leaves it, so the same sources make the same bytes and
# firmware built around the image stays cached.
function(add_efi_image name subsystem entry)
  cmake_parse_arguments(PARSE_ARGV 3 IMAGE "" "SECTION_ALIGNMENT" "")
  set(alignment ${EFI_DEFAULT_SECTION_ALIGNMENT})
  if(IMAGE_SECTION_ALIGNMENT)
    set(alignment ${IMAGE_SECTION_ALIGNMENT})
  endif()
  # Below a page, the format wants file and section alignment equal.
  set(file_alignment ${EFI_FILE_ALIGNMENT})
  if(alignment LESS EFI_FILE_ALIGNMENT)
    set(file_alignment ${alignment})
  endif()
  set(object_dir ${CMAKE_CURRENT_BINARY_DIR}/${name}.obj)
  set(objects)
  foreach(source IN LISTS IMAGE_UNPARSED_ARGUMENTS)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    string(REPLACE "/" "_" object_name ${relative})
    set(object ${object_dir}/${object_name}.obj)
    set(flags ${EFI_CXX_FLAGS})
    if(source MATCHES "/image_support.cpp$")
      # The routines the compiler itself calls stay out of link-time
      # optimisation, each in its own section: the linker keeps only those
      # the generated code calls.
      list(APPEND flags -fno-lto -ffunction-sections)
    endif()
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${object_dir}
      COMMAND ${EFI_CLANG} ${flags} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "EFI compile ${relative}"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(image ${CMAKE_CURRENT_BINARY_DIR}/${name}.efi)
  set(symbols ${CMAKE_CURRENT_BINARY_DIR}/${name}.debug)
  # lld-link writes a CodeView entry only with a PDB, which stays in the
  # object folder: the DWARF in the symbol file is what gdb and binutils read.
  # DWARF's section names are longer than the section table holds; they live
  # in the string table lld-link then writes, as MinGW's tools expect.
  add_custom_command(
    OUTPUT ${image} ${symbols}
    COMMAND ${EFI_LLD_LINK} /nologo /subsystem:${subsystem} /entry:${entry} /nodefaultlib
            /machine:x64 /dynamicbase /fixed:no /opt:ref /base:0 /timestamp:0
            /align:${alignment} /filealign:${file_alignment} /driver
            /debug:dwarf /debug:full /ignore:longsections /mllvm:-exception-model=dwarf
            /pdb:${object_dir}/${name}.pdb /pdbaltpath:${name}.debug
            /out:${symbols} ${objects}
    COMMAND python3 ${CMAKE_SOURCE_DIR}/image/split_symbols.py ${EFI_OBJCOPY} ${symbols} ${image}
    DEPENDS ${objects} ${CMAKE_SOURCE_DIR}/image/split_symbols.py
            ${CMAKE_SOURCE_DIR}/tools/firmware/pe_image.py
    COMMENT "EFI link ${name}.efi and ${name}.debug"
    VERBATIM)
  add_custom_target(${name}_efi ALL DEPENDS ${image})
endfunction()
