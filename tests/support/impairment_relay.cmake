# The impairment relay: drops, duplicates, reorders and delays chosen datagrams
# between a TFTP client and a server. The library serves engine and interop
# tests; the tool impair_relay puts it in front of a real server for the
# benchmark's loss section (bench/CMakeLists.txt includes this file when the
# tests are not built).
add_library(tftp_impairment_relay STATIC ${CMAKE_CURRENT_LIST_DIR}/impairment_relay.cpp)
target_include_directories(tftp_impairment_relay PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tftp_impairment_relay PUBLIC tftp_platform Qt6::Core)

add_executable(impair_relay ${CMAKE_CURRENT_LIST_DIR}/impair_relay_main.cpp)
target_link_libraries(impair_relay PRIVATE tftp_impairment_relay tftp_platform_store)
