// The new-version notice's parts, with the server origin and the home folder as parameters.
#pragma once

#include <string>

// "K dispozici je nová verze ..." with the offered and the installed version, three lines.
std::string NewVersionQuestion(const std::string& offered, const std::string& installed);
// The package address in a link answer: from just after the first "URL=" up to and including the
// first ".pkg" after it; the rest after "URL=" when it holds no ".pkg"; the whole answer without
// "URL=".
std::string PackageAddress(const std::string& linkAnswer);
// The download-link query URL for a download identifier.
std::string DownloadLinkUrl(const std::string& serverBaseUrl, const std::string& id);

std::string GetDownloadLinkFrom(const std::string& serverBaseUrl);
// home empty: HOME is not set; nothing is downloaded and the user is told so.
void DownloadLatestVersionTo(const std::string& serverBaseUrl, const std::string& home);
