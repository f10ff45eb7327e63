# Freestanding x86-64 UEFI application: clang for the Windows (COFF, MS ABI)
# target, linked by lld-link as a PE32+ image with subsystem EFI application.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_FLAGS_INIT
    "--target=x86_64-unknown-windows -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -mno-stack-arg-probe -fno-stack-protector -mno-red-zone -nostdinc++")
# No /fixed: OVMF needs the relocations to load the image. Each image names its
# entry point (/entry:) in its LINK_FLAGS.
set(CMAKE_CXX_LINK_EXECUTABLE
    "lld-link /subsystem:efi_application /nodefaultlib <LINK_FLAGS> /out:<TARGET> <OBJECTS>")
# Header dependencies: with this target and no platform module, CMake passes no
# depfile flags on its own, and a changed header would leave stale objects behind
# (a record layout compiled two ways into one image).
set(CMAKE_DEPFILE_FLAGS_CXX "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
set(CMAKE_CXX_DEPFILE_FORMAT gcc)
