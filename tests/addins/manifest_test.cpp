#include "manifest.h"

#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

// A manifest as the host documents it, with field replaced by the JSON text value (or left out
// when value is empty).
std::string Manifest(const std::string& field = "", const std::string& value = "") {
  const std::pair<const char*, const char*> fields[] = {
      {"autodeskProduct", "\"Fusion\""},
      {"type", "\"addin\""},
      {"id", "\"4d9228c3-fc04-4f04-ad94-3676c56a86e0\""},
      {"author", "\"QUORLEX\""},
      {"description", "{\"\": \"Průvodce\"}"},
      {"version", "\"1.0\""},
      {"runOnStartup", "true"},
      {"supportedOS", "\"mac\""},
      {"editEnabled", "false"},
  };
  std::string text = "{";
  for (const auto& entry : fields) {
    const bool replaced = field == entry.first;
    if (replaced && value.empty())
      continue;
    text += std::string(text.size() > 1 ? ",\n  \"" : "\n  \"") + entry.first +
            "\": " + (replaced ? value : std::string(entry.second));
  }
  return text + "\n}\n";
}

class ManifestTest : public testing::Test {
protected:
  // The folder Probe holding Probe.manifest with content.
  std::string folderWith(const std::string& content) {
    WriteFile(m_folder / "Probe/Probe.manifest", content);
    return m_folder / "Probe";
  }

  TempFolder m_folder{"manifest_test_" + CurrentTestName() + "_"};
};

TEST_F(ManifestTest, AcceptsTheDocumentedFormAndMacAmongOtherSystems) {
  std::string problem;
  EXPECT_TRUE(hostsim::CheckAddinManifest(folderWith(Manifest()), &problem)) << problem;
  EXPECT_TRUE(hostsim::CheckAddinManifest(folderWith(Manifest("supportedOS", "\"windows|mac\"")), &problem))
      << problem;
  // A trailing slash names the same folder.
  EXPECT_TRUE(hostsim::CheckAddinManifest(m_folder / "Probe/", &problem)) << problem;
}

TEST_F(ManifestTest, RefusalNamesTheFileAndTheField) {
  const struct {
    std::string content;
    std::string problem;
  } cases[] = {
      {"", "not JSON: line 1, column 1: unexpected end of text"},
      {"{\"type\": \"addin\",}", "not JSON: line 1, column 18: expected a member name in double quotes"},
      {"[" + Manifest() + "]", "not a JSON object but a JSON array"},
      {Manifest("type", "\"script\""), "field \"type\" is \"script\", not \"addin\""},
      {Manifest("type", ""), "field \"type\" is missing"},
      {Manifest("supportedOS", "\"windows\""),
       "field \"supportedOS\" is \"windows\", which does not name mac"},
      {Manifest("supportedOS", "\"macOS\""), "field \"supportedOS\" is \"macOS\", which does not name mac"},
      {Manifest("supportedOS", "[\"mac\"]"), "field \"supportedOS\" is a JSON array, not a JSON string"},
      {Manifest("id", ""), "field \"id\" is missing"},
      {Manifest("author", ""), "field \"author\" is missing"},
      {Manifest("editEnabled", ""), "field \"editEnabled\" is missing"},
      {Manifest("autodeskProduct", ""), "field \"autodeskProduct\" is missing"},
      {Manifest("autodeskProduct", "\"Fusion360\""),
       "field \"autodeskProduct\" is \"Fusion360\", not \"Fusion\""},
      {Manifest("runOnStartup", "\"true\""), "field \"runOnStartup\" is a JSON string, not a JSON boolean"},
      {Manifest("description", "\"Průvodce\""), "field \"description\" is a JSON string, not a JSON object"},
      {Manifest("version", "1.0"), "field \"version\" is a JSON number, not a JSON string"},
  };
  const std::string file = "the add-in Probe cannot be loaded: " + (m_folder / "Probe/Probe.manifest");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    std::string problem;
    EXPECT_FALSE(hostsim::CheckAddinManifest(folderWith(c.content), &problem));
    EXPECT_EQ(problem, file + ": " + c.problem);
  }
}

TEST_F(ManifestTest, RefusesAFolderWithoutItsOwnManifest) {
  std::string problem;
  WriteFile(m_folder / "Probe/Other.manifest", Manifest());
  EXPECT_FALSE(hostsim::CheckAddinManifest(m_folder / "Probe", &problem));
  const std::string refusal = "the add-in Probe cannot be loaded: " + (m_folder / "Probe/Probe.manifest");
  EXPECT_EQ(problem, refusal + ": missing");

  std::filesystem::create_directory(m_folder / "Probe/Probe.manifest");
  EXPECT_FALSE(hostsim::CheckAddinManifest(m_folder / "Probe", &problem));
  EXPECT_EQ(problem, refusal + ": not a file");
}

TEST(BuiltAddins, CarryManifestsTheHostAccepts) {
  for (const std::string folder : {ADDINS_DIR "/Orvandel", ADDINS_DIR "/Miravelo"}) {
    std::string problem;
    EXPECT_TRUE(hostsim::CheckAddinManifest(folder, &problem)) << problem;
  }
}

} // namespace
