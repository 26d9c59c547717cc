# The hardening Debian builds its own packages with (dpkg-buildflags with
# hardening=+all): fortified libc calls, stack protector, and the whole
# relocation table read-only after start-up. Fortify needs optimisation, so
# debug builds (the sanitizer tree among them) go without it.
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
add_link_options(-Wl,-z,relro -Wl,-z,now)
