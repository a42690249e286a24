// hostsim loads only the folders the host would load: the real built add-in folder, and no copy of it
// whose manifest is missing or refused.
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class HostsimManifestTest : public testing::Test {
protected:
  // Copies the built Miravelo folder to a folder of the test, with its manifest replaced by content
  // (or removed when content is empty), and plays one default start offline.
  hostsim::ProgramResult startWith(const std::string& content) {
    const std::string folder = m_folder / "Miravelo";
    fs::copy(ADDINS_DIR "/Miravelo", folder, fs::copy_options::recursive);
    if (content.empty())
      fs::remove(folder + "/Miravelo.manifest");
    else
      WriteFile(folder + "/Miravelo.manifest", content);
    return hostsim::RunProgram({HOSTSIM_EXE, "--root", m_folder / "mac", "--offline", folder});
  }

  // A start with content refused: status 3, the refusal of the installed manifest for reason printed as
  // an error, and the add-in never run.
  void expectRefused(const std::string& content, const std::string& reason) {
    const auto result = startWith(content);
    EXPECT_EQ(result.exitStatus, 3) << result.out << result.err;
    EXPECT_NE(result.out.find("error"), std::string::npos) << result.out;
    const std::string refusal = "the add-in Miravelo cannot be loaded: " + (m_folder / "mac") +
                                "/Users/user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/"
                                "AddIns/Miravelo/Miravelo.manifest: " +
                                reason;
    EXPECT_NE(result.out.find(refusal), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("addin Miravelo run"), std::string::npos) << result.out;
  }

  TempFolder m_folder{"hostsim_manifest_test_" + CurrentTestName() + "_"};
};

TEST_F(HostsimManifestTest, LoadsTheBuiltFolder) {
  const auto result = startWith(ReadFile(ADDINS_DIR "/Miravelo/Miravelo.manifest"));
  EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("addin Miravelo run -> true"), std::string::npos) << result.out;
}

TEST_F(HostsimManifestTest, RefusesAFolderWithoutAManifest) {
  expectRefused("", "missing");
}

TEST_F(HostsimManifestTest, RefusesAManifestForAnotherSystem) {
  std::string manifest = ReadFile(ADDINS_DIR "/Miravelo/Miravelo.manifest");
  const auto os = manifest.find("\"supportedOS\": \"mac\"");
  ASSERT_NE(os, std::string::npos) << manifest;
  manifest.replace(os, 20, "\"supportedOS\": \"windows\"");
  expectRefused(manifest, "field \"supportedOS\" is \"windows\", which does not name mac");
}

} // namespace
