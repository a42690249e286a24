// The install record decides what the uninstaller removes, so its reader must hold against any bytes:
// a file it accepts names only safe paths below the bundle and writes back to the same record; a file
// it refuses leaves the record it was given as it was.
#include "fuzz_support.h"

#include "install_record.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = fuzz::ScratchFolder();
  fuzz::EmptyFolder(folder);
  const std::string path = folder + "/" + installrecord::kFileName;
  fuzz::WriteBytes(path, data, size);

  installrecord::InstallRecord record;
  record.folders.insert("kept");
  const installrecord::InstallRecord given = record;
  Failure failure;
  if (!installrecord::ReadInstallRecord(path, record, failure)) {
    FUZZ_CHECK(failure.code && failure.path == path);
    FUZZ_CHECK(record.folders == given.folders && record.files == given.files);
    return 0;
  }
  for (const auto& [file, recorded] : record.files)
    FUZZ_CHECK(installrecord::IsSafeRelativePath(file) && recorded.mtimeNanoseconds < 1000000000);
  for (const std::string& recordedFolder : record.folders)
    FUZZ_CHECK(installrecord::IsSafeRelativePath(recordedFolder));

  const std::string copy = folder + "/copy.txt";
  FUZZ_CHECK(installrecord::WriteInstallRecord(copy, record, failure));
  installrecord::InstallRecord again;
  FUZZ_CHECK(installrecord::ReadInstallRecord(copy, again, failure));
  FUZZ_CHECK(again.files == record.files && again.folders == record.folders);
  return 0;
}
