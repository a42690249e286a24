# The update client's sources, relative to the Orvandel folder.
set(ORVANDEL_UPDATE_SOURCES
  src/update/http_fetch.cpp
  src/update/new_version.cpp
  src/update/update_client.cpp
  src/update/version_check.cpp)
