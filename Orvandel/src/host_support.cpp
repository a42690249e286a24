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

namespace {
// Every CancellableProgress, linked through m_next; constant-initialised, so that the first instance
// may link itself in during static initialisation.
CancellableProgress* g_firstProgress = nullptr;
} // namespace

CancellableProgress::CancellableProgress(void (*onCancel)()) noexcept
    : m_onCancel(onCancel), m_next(g_firstProgress) {
  g_firstProgress = this;
}

CancellableProgress::~CancellableProgress() {
  for (CancellableProgress** link = &g_firstProgress; *link; link = &(*link)->m_next)
    if (*link == this) {
      *link = m_next;
      break;
    }
}

void CancellableProgress::Show(const std::wstring& title, const std::wstring& message) {
  Close();
  m_dialog = ui ? ui->createProgressDialog() : nullptr;
  if (!m_dialog)
    return;
  m_dialog->isCancelButtonShown(true);
  m_dialog->cancelButtonText(ws2s(L"Zrušit"));
  m_dialog->show(ws2s(title), ws2s(message), 0, 100, /*delay=*/0);
}

bool CancellableProgress::Cancelled() {
  if (!m_cancelled && (!m_dialog || !m_dialog->wasCancelled()))
    return false;
  m_cancelled = true;
  if (m_onCancel)
    m_onCancel();
  return true;
}

void CancellableProgress::Update(const std::wstring& message, int percent) {
  if (!m_dialog || Cancelled())
    return;
  // The message before the value, so that a move of the bar shows what it stands for.
  m_dialog->message(ws2s(message));
  if (percent >= 0)
    m_dialog->progressValue(percent);
}

void CancellableProgress::Close() {
  if (m_dialog && m_dialog->isShowing())
    m_dialog->hide();
  m_dialog = nullptr;
  m_cancelled = false;
}

void CancellableProgress::CloseAll() {
  for (CancellableProgress* progress = g_firstProgress; progress; progress = progress->m_next)
    progress->Close();
}

void LogLine(const std::string& message, LogLevels level) {
  Application::log("QUORLEX: " + message, level, FileLogType);
}

void LogRoutine(const std::string& routine, const std::string& message) {
  LogLine("(" + routine + ")" + message, InfoLogLevel);
}

std::string GetAddinLocation(const std::string& path) {
  return AddinLocationFor(path, product::kLanguageAddinName);
}
