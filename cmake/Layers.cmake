# The layer order of the project's libraries, lowest first. A folder may
# include headers of its own folder and of folders on lower layers only;
# folders on one layer (separated by commas) are peers and include none of
# each other. Tests under tests/<folder> keep the rule of <folder>. Folders
# that are not listed (tests/support, tests/fixtures, bench, third-party
# headers) are not checked and do not count as includes of a layer.
#
# cmake/CheckLayers.cmake enforces the order on every build, and
# velmo_library refuses a deps.cmake that links a library of the same or a
# higher layer.
set(VELMO_LAYERS
  "classlib"
  "imaging/model"
  "imaging/proc"
  "imaging/io"
  "imaging/views"
  "gif,controls/shell,controls/themed,controls/toolbar"
  "app")
