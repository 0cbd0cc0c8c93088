# The release keys the installer trusts, read at configure time.
#
# RELEASE_PUBLIC_KEYS (declared beside RELEASE_BASE_URL) lists one or two PEM files, each a P-256 public key as
# `openssl ec -pubout` writes it (two while a key is being rotated: the next
# one ships before it signs). RELEASE_UNSIGNED=ON builds an installer that
# takes packages unverified instead.
#
# oq_release_keys(<bytes-var> <count-var>) sets <bytes-var> to the C++
# initializer of the keys' 64-byte X||Y points and <count-var> to how many
# there are, or fails the configure with a message that says what is wrong.

# DER SubjectPublicKeyInfo of an uncompressed P-256 point, up to the point's X.
set(oq_p256_spki_prefix
    "30;59;30;13;06;07;2a;86;48;ce;3d;02;01;06;08;2a;86;48;ce;3d;03;01;07;03;42;00;04")

function(oq_pem_key_point file out_var)
  if(NOT IS_ABSOLUTE "${file}")
    set(file "${PROJECT_SOURCE_DIR}/${file}")
  endif()
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "RELEASE_PUBLIC_KEYS: the key file \"${file}\" does not exist")
  endif()
  file(READ "${file}" pem)
  if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----([A-Za-z0-9+/=\r\n]+)-----END PUBLIC KEY-----")
    message(FATAL_ERROR "RELEASE_PUBLIC_KEYS: \"${file}\" is not a PEM public key "
                        "(make one with `openssl ec -in release-key.pem -pubout -out release-key.pub.pem`; "
                        "never give the private key here)")
  endif()
  string(REGEX REPLACE "[\r\n=]" "" base64 "${CMAKE_MATCH_1}")
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(bytes "")
  set(bits 0)
  set(pending 0)
  string(LENGTH "${base64}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${base64}" ${i} 1 c)
    string(FIND "${alphabet}" "${c}" value)
    math(EXPR bits "((${bits} << 6) | ${value}) & 0xFFFF")
    math(EXPR pending "${pending} + 6")
    if(pending GREATER_EQUAL 8)
      math(EXPR pending "${pending} - 8")
      math(EXPR byte "(${bits} >> ${pending}) & 0xFF" OUTPUT_FORMAT HEXADECIMAL)
      string(REPLACE "0x" "" byte "${byte}")
      string(LENGTH "${byte}" digits)
      if(digits EQUAL 1)
        set(byte "0${byte}")
      endif()
      list(APPEND bytes "${byte}")
    endif()
  endforeach()
  list(LENGTH bytes count)
  list(SUBLIST bytes 0 27 prefix)
  if(NOT count EQUAL 91 OR NOT prefix STREQUAL oq_p256_spki_prefix)
    message(FATAL_ERROR "RELEASE_PUBLIC_KEYS: \"${file}\" is a public key, but not an uncompressed "
                        "P-256 (prime256v1) one")
  endif()
  list(SUBLIST bytes 27 64 point)
  list(TRANSFORM point PREPEND "0x")
  list(JOIN point ", " point)
  set(${out_var} "${point}" PARENT_SCOPE)
endfunction()

function(oq_release_keys bytes_var count_var)
  list(LENGTH RELEASE_PUBLIC_KEYS count)
  if(RELEASE_UNSIGNED)
    if(count GREATER 0)
      message(FATAL_ERROR "RELEASE_UNSIGNED=ON and RELEASE_PUBLIC_KEYS both given: choose one")
    endif()
    message(WARNING "RELEASE_UNSIGNED=ON: this installer registers whatever packages the release server "
                    "sends, unverified. Build with RELEASE_PUBLIC_KEYS for signed releases.")
    set(${bytes_var} "{0}" PARENT_SCOPE)
    set(${count_var} 0 PARENT_SCOPE)
    return()
  endif()
  if(count EQUAL 0)
    message(FATAL_ERROR "RELEASE_PUBLIC_KEYS is empty: give the release public key "
                        "(-DRELEASE_PUBLIC_KEYS=release-key.pub.pem, or two separated by \";\"), "
                        "or -DRELEASE_UNSIGNED=ON for an installer that does not verify releases")
  endif()
  if(count GREATER 2)
    message(FATAL_ERROR "RELEASE_PUBLIC_KEYS names ${count} keys; at most two (the current and the next)")
  endif()
  set(initializers "")
  foreach(file IN LISTS RELEASE_PUBLIC_KEYS)
    oq_pem_key_point("${file}" point)
    list(APPEND initializers "{${point}}")
  endforeach()
  list(JOIN initializers ",\n    " initializers)
  set(${bytes_var} "${initializers}" PARENT_SCOPE)
  set(${count_var} ${count} PARENT_SCOPE)
endfunction()
