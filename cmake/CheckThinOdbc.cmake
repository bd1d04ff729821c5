# platform/odbc is RAII over unixODBC and nothing more: besides the run-time
# library and Qt Core it may link unixODBC, odbcinst and the dynamic loader
# only.  Connection policy (sockets, Kerberos, freetds.conf) lives in
# platform/connection, which links what it needs itself.
include(${CMAKE_CURRENT_LIST_DIR}/LinkGraph.cmake)

function(tarvelo_check_thin_odbc target)
  set(allowed tarvelo_runtime Qt6::Core PkgConfig::UNIXODBC PkgConfig::ODBCINST ${CMAKE_DL_LIBS})
  tarvelo_direct_links(${target} links)
  foreach(link IN LISTS links)
    if(NOT link IN_LIST allowed)
      message(FATAL_ERROR "${target} links ${link}; it may link only unixODBC, odbcinst and "
                          "${CMAKE_DL_LIBS} besides tarvelo_runtime and Qt6::Core")
    endif()
  endforeach()
endfunction()
