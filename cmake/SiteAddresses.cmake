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

# Writes a header that holds the two addresses; only the executable's main.cpp includes it,
# so a different site rebuilds one file.
function(tarnwick_write_site_header out_file update_site web_site)
  tarnwick_check_site_addresses("${update_site}" "${web_site}")
  set(TARNWICK_CONFIG_UPDATE_SITE "${update_site}")
  set(TARNWICK_CONFIG_WEB_SITE "${web_site}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/SiteAddresses.h.in" "${out_file}" @ONLY)
endfunction()
