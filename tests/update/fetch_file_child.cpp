// A process of its own that downloads one file as the download does (fetch, then place), for the tests that
// kill a download. Usage: fetch_file_child URL TARGET. Exit status 0 when the file is in place.
#include "update/http_fetch.h"
#include "update/update_client.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  try {
    if (argc != 3 || !UpdateClientStart())
      return 2;
    FileFetch fetch = FetchFileUnplaced(argv[1], argv[2], nullptr, nullptr);
    PlaceFetchedFile(fetch);
    UpdateClientStop();
    return fetch.ok() ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fetch_file_child: %s\n", error.what());
    return 3;
  }
}
