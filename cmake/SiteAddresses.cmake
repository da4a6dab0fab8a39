# The two site addresses are compiled into the executable; a wrong one would only
# show up as a silent "check failed" on a user's machine, so refuse it here.
function(tarnwick_check_site_addresses update_site web_site)
  if(NOT update_site MATCHES "^https?://[^/]+/(.*/)?updater/$")
    message(FATAL_ERROR
      "TARNWICK_UPDATE_SITE must be an http(s) address ending in \"/updater/\", got \"${update_site}\"")
  endif()
  if(NOT web_site MATCHES "^http://[^/]+/?$")
    message(FATAL_ERROR
      "TARNWICK_WEB_SITE must be the site's home page over http with no path, got \"${web_site}\"")
  endif()
endfunction()

# The publisher's key is minisign's public-key line (the second line of minisign.pub): "Ed", the
# key id and the Ed25519 key in base64. A mistyped key would refuse every manifest, so it is
# refused here instead.
function(tarnwick_check_signing_key signing_key)
  string(LENGTH "${signing_key}" key_length)
  if(NOT signing_key STREQUAL "" AND (NOT key_length EQUAL 56 OR NOT signing_key MATCHES "^RW[A-Za-z0-9+/]+$"))
    message(FATAL_ERROR
      "TARNWICK_SIGNING_KEY must be empty or the 56-character base64 line of a minisign public key, got \"${signing_key}\"")
  endif()
endfunction()

# Writes a header that holds the two addresses and the signing key; only the executable's
# main.cpp includes it, so a different site rebuilds one file.
function(tarnwick_write_site_header out_file update_site web_site signing_key)
  tarnwick_check_site_addresses("${update_site}" "${web_site}")
  tarnwick_check_signing_key("${signing_key}")
  set(TARNWICK_CONFIG_UPDATE_SITE "${update_site}")
  set(TARNWICK_CONFIG_WEB_SITE "${web_site}")
  set(TARNWICK_CONFIG_SIGNING_KEY "${signing_key}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/SiteAddresses.h.in" "${out_file}" @ONLY)
endfunction()
