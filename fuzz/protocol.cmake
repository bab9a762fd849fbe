# Reply parsing and the read transactions fed with arbitrary reply bytes.
irbench_add_fuzzer(fuzz_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_reply.cpp LIBS irbench_protocol)
