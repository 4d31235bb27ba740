# Hardened as Debian builds its own packages, in every build type: stack
# protector and clash protection, and the processor's control-flow
# protection where the compiler has one for it; FORTIFY needs the optimizer.
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-fcf-protection has_cf_protection)
check_cxx_compiler_flag(-mbranch-protection=standard has_branch_protection)
target_compile_options(display-resolution PRIVATE -fstack-protector-strong -fstack-clash-protection
    $<$<BOOL:${has_cf_protection}>:-fcf-protection>
    $<$<BOOL:${has_branch_protection}>:-mbranch-protection=standard>)
target_compile_definitions(display-resolution PRIVATE
    $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
# --as-needed: the program uses nothing of the C++ runtime, so it needs only
# SDL 2 and libc at run time.
target_link_options(display-resolution PRIVATE LINKER:--as-needed,-z,relro,-z,now)
# Where it was built stays out of the binary: two builds give the same bytes.
target_compile_options(display-resolution PRIVATE
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
# The compiler's name and version, which the start files carry too, are of
# no use at run time.
add_custom_command(TARGET display-resolution POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:display-resolution>)
