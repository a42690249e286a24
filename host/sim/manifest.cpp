#include "manifest.h"

#include "json_reader.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace hostsim {

namespace {

namespace fs = std::filesystem;
using Kind = JsonValue::Kind;

struct RequiredField {
  const char* name;
  Kind kind;
};

// Every field the host requires of an add-in manifest, with its JSON type.
constexpr RequiredField kRequiredFields[] = {
    {"autodeskProduct", Kind::String}, {"type", Kind::String},        {"id", Kind::String},
    {"author", Kind::String},          {"description", Kind::Object}, {"version", Kind::String},
    {"runOnStartup", Kind::Boolean},   {"supportedOS", Kind::String}, {"editEnabled", Kind::Boolean},
};

bool NamesMac(const std::string& systems) {
  std::istringstream in(systems);
  for (std::string system; std::getline(in, system, '|');) {
    if (system == "mac")
      return true;
  }
  return false;
}

// What is wrong with the manifest's text; empty when the host accepts it.
std::string ManifestProblem(const std::string& text) {
  JsonValue manifest;
  std::string problem;
  if (!ParseJson(text, &manifest, &problem))
    return "not JSON: " + problem;
  if (manifest.kind != Kind::Object)
    return std::string("not a JSON object but a JSON ") + JsonKindName(manifest.kind);
  for (const auto& field : kRequiredFields) {
    const JsonValue* value = manifest.member(field.name);
    const std::string quoted = std::string("field \"") + field.name + "\"";
    if (!value)
      return quoted + " is missing";
    if (value->kind != field.kind)
      return quoted + " is a JSON " + JsonKindName(value->kind) + ", not a JSON " + JsonKindName(field.kind);
  }
  // The current host lists only add-ins of its own name; builds before its rename wrote "Fusion360".
  const std::string& product = manifest.member("autodeskProduct")->text;
  if (product != "Fusion")
    return "field \"autodeskProduct\" is \"" + product + "\", not \"Fusion\"";
  const std::string& type = manifest.member("type")->text;
  if (type != "addin")
    return "field \"type\" is \"" + type + "\", not \"addin\"";
  const std::string& systems = manifest.member("supportedOS")->text;
  if (!NamesMac(systems))
    return "field \"supportedOS\" is \"" + systems + "\", which does not name mac";
  return std::string();
}

} // namespace

bool CheckAddinManifest(const std::string& folder, std::string* problem) {
  fs::path path = fs::path(folder).lexically_normal();
  if (!path.has_filename())
    path = path.parent_path();
  const fs::path file = path / (path.filename().string() + ".manifest");
  auto refuse = [&](const std::string& what) {
    if (problem)
      *problem =
          "the add-in " + path.filename().string() + " cannot be loaded: " + file.string() + ": " + what;
    return false;
  };

  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    return refuse(fs::exists(file, ec) ? "not a file" : "missing");
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return refuse("cannot be read");
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const std::string what = ManifestProblem(text);
  return what.empty() || refuse(what);
}

} // namespace hostsim
