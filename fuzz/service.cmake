# The store unit: sequences of record changes, then a save and a load.
pelorin_fuzz_target(store_ops_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/store_ops_fuzz.cpp pelorin_app)
