set(VELMO_LIB_DEPS classlib)
