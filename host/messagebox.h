// A modal message with an OK button and no owner window. On Linux, where the
// program has no native dialogs, the message goes to standard error and the log.
#pragma once

#include <string>

void ShowMessageBox(const std::wstring& caption, const std::wstring& text);
