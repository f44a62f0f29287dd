# Where scripts/router-libs.sh builds: CFGMIGRATE_ROUTER_LIBS in the
# environment or .router-libs/ of the tree.
if(DEFINED ENV{CFGMIGRATE_ROUTER_LIBS})
  set(router_cache $ENV{CFGMIGRATE_ROUTER_LIBS})
else()
  get_filename_component(router_cache ${CMAKE_CURRENT_LIST_DIR}/../.router-libs ABSOLUTE)
endif()
