#include "uninstall.h"

#include "legacy_paths.h"
#include "utilities.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace uninstaller {

namespace {

constexpr const char* kClosingPieces[] = {
    "\n",
    "\n*****************************\n",
    "Soubory s lokalizaci a AddInu byly odstraneny.\nOkno Terminalu je mozne uzavrit",
    "\n*****************************\n",
    "\n",
};

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

// The first failed file-system operation of a run.
struct Failure {
  const char* action = "";
  std::string path;
  std::error_code code;
};

class Remover {
public:
  Remover(Mode mode, std::ostream& out) : m_mode(mode), m_out(out) {}

  const Failure& failure() const { return m_failure; }

  // Removes the single entry at path when FileExists reports it.
  bool RemoveEntry(const std::string& path) {
    if (!FileExists(path))
      return true;
    if (m_mode == Mode::kDryRun) {
      m_out << path << '\n';
      return true;
    }
    std::error_code code;
    fs::remove(path, code);
    return code ? Fail("odstraneni", path, code) : true;
  }

  // Removes the whole tree at path; an absent tree is no error.
  bool RemoveTree(const std::string& tree) {
    // Without a trailing separator a link at the end of the path is removed as the link; with one, the
    // system would follow it and empty the folder it points to.
    const std::string path = WithoutTrailingSeparators(tree);
    if (m_mode == Mode::kDryRun) {
      std::error_code code;
      const auto status = fs::symlink_status(path, code);
      if (status.type() == fs::file_type::not_found)
        return true;
      if (code)
        return Fail("zjisteni stavu", path, code);
      m_out << path << '\n';
      return true;
    }
    std::error_code code;
    fs::remove_all(path, code);
    return code ? Fail("odstraneni", path, code) : true;
  }

  bool CleanBuild(const std::string& buildFolder) {
    for (const char* single : legacy::kSingleFiles) {
      if (!RemoveEntry(buildFolder + single))
        return false;
    }
    for (const char* tree : legacy::kTrees) {
      if (!RemoveTree(buildFolder + tree))
        return false;
    }
    return true;
  }

  // Cleans every folder entry of the production folder, in the listing's order.
  bool CleanBuilds(const std::string& productionFolder) {
    // Tested without the trailing separator: with it, a plain file at that place would read as missing.
    std::error_code code;
    const auto status = fs::status(WithoutTrailingSeparators(productionFolder), code);
    if (status.type() == fs::file_type::not_found)
      return true;
    if (code)
      return Fail("zjisteni stavu", productionFolder, code);
    if (!fs::is_directory(status))
      return Fail("cteni slozky", productionFolder, std::make_error_code(std::errc::not_a_directory));

    fs::directory_iterator entry(productionFolder, code);
    for (const fs::directory_iterator end; !code && entry != end; entry.increment(code)) {
      const std::string buildFolder = entry->path().string();
      std::error_code statusCode;
      const auto entryStatus = entry->status(statusCode);
      if (entryStatus.type() == fs::file_type::not_found) // a dangling link
        continue;
      if (statusCode)
        return Fail("zjisteni stavu", buildFolder, statusCode);
      if (fs::is_directory(entryStatus) && !CleanBuild(buildFolder))
        return false;
    }
    return code ? Fail("cteni slozky", productionFolder, code) : true;
  }

private:
  bool Fail(const char* action, const std::string& path, std::error_code code) {
    m_failure = Failure{action, path, code};
    return false;
  }

  Mode m_mode;
  std::ostream& m_out;
  Failure m_failure;
};

int ReportFailure(const Failure& failure, std::ostream& err) {
  err << "Chyba: " << failure.action << " \"" << failure.path << "\" se nezdarilo: " << failure.code.message()
      << "\nOdinstalace nebyla dokoncena; co uz bylo odstraneno, zustava odstraneno.\n";
  return kExitFileSystemError;
}

} // namespace

std::string ProductionFolderFor(const std::string& home) {
  return home + "/Library/Application Support/Autodesk/webdeploy/production/";
}

std::string ClosingMessage() {
  std::string message;
  for (const char* piece : kClosingPieces)
    message += piece;
  return message;
}

int Uninstall(const std::string& productionFolder, const std::string& ownFolder, Mode mode, std::ostream& out,
              std::ostream& err) {
  if (mode == Mode::kDryRun)
    out << "Zkusebni beh (--dry-run): odstranilo by se nasledujici, nic se nemeni.\n";
  Remover remover(mode, out);
  if (!remover.CleanBuilds(productionFolder))
    return ReportFailure(remover.failure(), err);
  if (!FileExists(ownFolder))
    return kExitSuccess;
  if (!remover.RemoveTree(ownFolder))
    return ReportFailure(remover.failure(), err);
  if (mode == Mode::kDryRun)
    return kExitSuccess;
  out << ClosingMessage();
  out.flush();
  return kExitSuccess;
}

} // namespace uninstaller
