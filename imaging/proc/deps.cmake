set(VELMO_LIB_DEPS imaging_model classlib)
