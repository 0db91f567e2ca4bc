set(VELMO_LIB_DEPS classlib imaging_proc imaging_views)
