# The package's build uses Debian's hardening flags (as dpkg-buildflags gives them with
# hardening=+all): a stack protector, fortified libc calls and a read-only, bound-at-load GOT.
add_compile_options(-fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security)
add_link_options(-Wl,-z,relro -Wl,-z,now)
