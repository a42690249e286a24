#include "layout.h"

#include "platform.h"
#include "temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace hostsim {

MacLayout LayoutFor(const std::string& root, const std::string& build) {
  MacLayout layout;
  layout.root = root;
  layout.home = root + "/Users/user";
  const std::string support = layout.home + "/Library/Application Support/Autodesk";
  layout.production = support + "/webdeploy/production";
  layout.macosDir = layout.production + "/" + build + "/Autodesk Fusion.app/Contents/MacOS";
  layout.hostExe = layout.macosDir + "/Autodesk Fusion";
  layout.hostBundle = layout.production + "/Autodesk Fusion.app";
  layout.addinsRoot = support + "/Autodesk Fusion 360/API/AddIns";
  layout.opener = root + "/usr/bin/open";
  layout.preferences = layout.home + "/Library/Preferences/com.hostsim.preferences.txt";
  return layout;
}

namespace {

bool WriteIfMissing(const std::string& path, const std::string& content, std::string* error) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec)))
    return true;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool MakeFolder(const std::string& path, std::string* error) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) {
    *error = "cannot create " + path + ": " + ec.message();
    return false;
  }
  return true;
}

// Copies the program at source over target through a temporary beside it. 0 or an errno.
int CopyExecutable(const std::string& source, const std::string& target) {
  const UniqueFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid())
    return errno;
  TemporaryFile temporary = TemporaryFile::CreateBeside(target, 0755);
  if (!temporary.valid())
    return temporary.error();
  if (const int copied = CopyFileData(in.get(), temporary.fd()))
    return copied;
  if (const int finished = temporary.finish())
    return finished;
  return temporary.commit();
}

// Makes link a symbolic link to target, replacing what stood there in one rename. 0 or an errno.
int LinkAtomically(const std::string& target, const std::string& link) {
  const fs::path path(link);
  const UniqueFd folder(open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid())
    return errno;
  TemporaryFile temporary =
      TemporaryFile::MakeIn(folder.get(), path.filename().string(), [&](int folderFd, const char* name) {
        return symlinkat(target.c_str(), folderFd, name) == 0 ? 0 : errno;
      });
  if (!temporary.valid())
    return temporary.error();
  return temporary.commit();
}

} // namespace

bool PrepareMac(const MacLayout& layout, const std::string& selfExe, std::string* error) {
  for (const std::string& folder :
       {layout.root + "/Library", layout.home + "/Downloads", layout.home + "/Library/Preferences",
        layout.macosDir, layout.addinsRoot, layout.root + "/usr/bin"}) {
    if (!MakeFolder(folder, error))
      return false;
  }
  // A few of the host's own files where the host keeps them, so that copies into the bundle meet
  // the neighbours they meet on a Mac.
  const std::string contents = layout.hostBundle + "/Contents";
  const std::string help = contents + "/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  const struct {
    std::string path;
    const char* content;
  } files[] = {
      {contents + "/Libraries/Neutron/StringTable/en-US/Neutron.xml", "<strings lang=\"en-US\"/>\n"},
      {contents + "/Libraries/Neutron/StringTable/de-DE/Neutron.xml", "<strings lang=\"de-DE\"/>\n"},
      {contents + "/Resources/AIRMAX/en-US/airmax.qm", "qm en-US\n"},
      {contents + "/Libraries/Applications/CAM360/Data/Translations/english_en.xml", "<translations/>\n"},
      {help + "en-html.html", "<html><body>CAM help</body></html>\n"},
      {help + "en-html/index.html", "<html><body>CAM help index</body></html>\n"},
      {help + "images/logo.png", "PNG stand-in\n"},
      {contents + "/Info.plist",
       "<plist><dict><key>CFBundleName</key><string>Host</string></dict></plist>\n"},
  };
  for (const auto& file : files) {
    if (!WriteIfMissing(file.path, file.content, error))
      return false;
  }

  // The host executable is replaced on every start, so that a rebuilt hostsim is the one that runs. Both
  // it and the opener link are made under a temporary name and renamed into place, so that hostsims
  // started together on one root never see them missing or half-written.
  SweepDeadTemporaries(layout.macosDir);
  SweepDeadTemporaries(layout.root + "/usr/bin");
  const int copied = CopyExecutable(selfExe, layout.hostExe);
  if (copied != 0) {
    *error = "cannot copy hostsim to " + layout.hostExe + ": " + std::strerror(copied);
    return false;
  }
  const int linked = LinkAtomically(layout.hostExe, layout.opener);
  if (linked != 0) {
    *error = "cannot link the opener " + layout.opener + ": " + std::strerror(linked);
    return false;
  }
  return true;
}

bool InstallAddin(const MacLayout& layout, const std::string& folder, std::string* name, std::string* error) {
  std::error_code ec;
  fs::path source = fs::absolute(folder, ec).lexically_normal();
  if (source.has_filename() == false)
    source = source.parent_path();
  if (!fs::is_directory(source, ec)) {
    *error = "no add-in folder " + folder;
    return false;
  }
  *name = source.filename().string();
  const fs::path target = fs::path(layout.addinsRoot) / *name;
  if (fs::exists(target, ec) && fs::equivalent(source, target, ec))
    return true;
  fs::create_directories(target, ec);
  fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::update_existing, ec);
  if (ec) {
    *error = "cannot copy " + source.string() + " to " + target.string() + ": " + ec.message();
    return false;
  }
  return true;
}

} // namespace hostsim
