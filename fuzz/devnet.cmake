# The devnet wire protocol from both ends: arbitrary bytes into the SDK's message
# handling and into the camera side's connection handling.
irbench_add_fuzzer(fuzz_devnet_client SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_devnet_client.cpp LIBS irbench_devnet)
irbench_add_fuzzer(fuzz_devnet_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_devnet_server.cpp LIBS irbench_devnet)
