# libstrophe 0.14.0 for the Windows build (tools/windows/deps.sh copies this
# file into the unpacked tarball as its CMakeLists.txt): the sources upstream's
# Makefile.am builds for MinGW with Schannel TLS, expat and no compression,
# with the definitions its configure script gives there, as a static library.
# Upstream's tarball ships no generated build files, and making them with
# autotools costs minutes of a cross build; this costs seconds.
cmake_minimum_required(VERSION 3.16)
project(libstrophe VERSION 0.14.0 LANGUAGES C)

add_library(strophe STATIC
  src/auth.c src/conn.c src/crypto.c src/ctx.c src/deprecated.c src/event.c src/handler.c
  src/hash.c src/jid.c src/md5.c src/rand.c src/resolver.c src/sasl.c src/scram.c src/sha1.c
  src/sha256.c src/sha512.c src/sock.c src/stanza.c src/tls.c src/util.c src/uuid.c
  src/compression_dummy.c src/tls_schannel.c src/parser_expat.c)
target_include_directories(strophe PRIVATE ${CMAKE_SOURCE_DIR} ${VELLORA_WIN_PREFIX}/include)
target_compile_definitions(strophe PRIVATE XML_STATIC HAVE_SNPRINTF HAVE_VSNPRINTF HAVE_VA_COPY
                           DONT_USE_GETRANDOM LIBXMPP_VERSION_MAJOR=0 LIBXMPP_VERSION_MINOR=14)
target_compile_options(strophe PRIVATE -w)  # upstream's own code, as it is
install(TARGETS strophe ARCHIVE DESTINATION lib)
install(FILES strophe.h DESTINATION include)
