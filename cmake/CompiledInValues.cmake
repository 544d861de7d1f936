# Deployment values compiled into the program. A build without them asks the user for the cloud
# settings at first start.
set(TARVOLIN_SUPABASE_URL "" CACHE STRING "Production backend address (https, no trailing slash)")
set(TARVOLIN_SUPABASE_ANON_KEY "" CACHE STRING "Production publishable key")
set(TARVOLIN_SITE_ORIGIN "https://tarvolin.example" CACHE STRING "Product web site origin (serves /config/cloud.json and /updates/macos.json)")
set(TARVOLIN_STORE_LINK "" CACHE STRING "Link to the program's page in the store (store-installed builds only)")
# Test and demo builds only: one extra certificate authority to trust besides the system's.
set(TARVOLIN_EXTRA_CA_CERT "" CACHE FILEPATH "Extra CA certificate to trust (test/demo builds only)")

set(TARVOLIN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CompiledInValues.h.in ${TARVOLIN_GENERATED_DIR}/CompiledInValues.h @ONLY)
