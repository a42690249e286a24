// The product's fixed values, in one place. Release builds carry exactly these.
#pragma once

namespace product {

// Origin of the maker's web server: version query, download-link query.
constexpr const char* kServerBaseUrl = "https://www.quorlex.cz";
// Origin of the maker's learning web site that serves the guide page.
constexpr const char* kLearningSiteBase = "https://learning.quorlex.cz";
// Where the localization data package is installed on the Mac.
constexpr const char* kPackageRoot = "/Library/Vornid";

constexpr const char* kLanguageAddinName = "Orvandel";
constexpr const char* kGuideAddinName = "Miravelo";

} // namespace product
