set(VELMO_LIB_DEPS classlib imaging_io winmm)
