# platform/odbc is RAII over unixODBC and nothing more: besides the run-time
# library and Qt Core it may link unixODBC, odbcinst and the dynamic loader
# only.  Connection policy (sockets, Kerberos, freetds.conf) lives in
# platform/connection, which links what it needs itself.
function(tarvelo_check_thin_odbc target)
  set(allowed tarvelo_runtime Qt6::Core PkgConfig::UNIXODBC PkgConfig::ODBCINST ${CMAKE_DL_LIBS})
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(links ${target} ${property})
    if(NOT links)
      continue()
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(NOT link IN_LIST allowed)
        message(FATAL_ERROR "${target} links ${link}; it may link only unixODBC, odbcinst and "
                            "${CMAKE_DL_LIBS} besides tarvelo_runtime and Qt6::Core")
      endif()
    endforeach()
  endforeach()
endfunction()
