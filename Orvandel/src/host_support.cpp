#include "host_support.h"

#include "utilities.h"

#include <product_constants.h>

using namespace adsk::core;

namespace orvandel {

Ptr<Application> app;
Ptr<UserInterface> ui;

} // namespace orvandel

using orvandel::app;
using orvandel::ui;

bool checkReturn(const Ptr<Base>& result) {
  if (result)
    return true;
  if (app && ui) {
    std::string description;
    app->getLastError(&description);
    ShowMessageBox(description);
  }
  return false;
}

DialogResults ShowMessageBox(const std::string& text, const std::string& title, MessageBoxButtonTypes buttons,
                             MessageBoxIconTypes icon) {
  return ui ? ui->messageBox(text, title, buttons, icon) : DialogError;
}

Ptr<ProgressDialog> ShowCancellableProgress(const std::wstring& title, const std::wstring& message) {
  Ptr<ProgressDialog> dialog = ui ? ui->createProgressDialog() : nullptr;
  if (!dialog)
    return nullptr;
  dialog->isCancelButtonShown(true);
  dialog->cancelButtonText(ws2s(L"Zrušit"));
  dialog->show(ws2s(title), ws2s(message), 0, 100, /*delay=*/0);
  return dialog;
}

void LogLine(const std::string& message, LogLevels level) {
  Application::log("QUORLEX: " + message, level, static_cast<LogTypes>(0));
}

void LogRoutine(const std::string& routine, const std::string& message) {
  LogLine("(" + routine + ")" + message, static_cast<LogLevels>(2));
}

std::string GetAddinLocation(const std::string& path) {
  return AddinLocationFor(path, product::kLanguageAddinName);
}
