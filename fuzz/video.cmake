# The stream's frame buffer fed with arbitrary chunk sequences.
irbench_add_fuzzer(fuzz_findframe SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_findframe.cpp LIBS irbench_stream)
