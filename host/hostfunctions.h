// The page's generic host functions: file, system and window functions that
// every web-view window offers, registered by name in the web view. Each
// reads its arguments by position; a missing argument reads as 0, false or
// an empty text.
#pragma once

#include "host/webview.h"

#include <cstdint>
#include <string>
#include <vector>

class BaseBlkWinow;

namespace hostfunctions {

void BindFileFunctions();
void BindSystemFunctions(BaseBlkWinow* window);
void BindWindowFunctions(BaseBlkWinow* window);

// Argument and result conversions shared with the main window's functions.
int ArgInt(jsExecState es, int index);
bool ArgBool(jsExecState es, int index);
std::string ArgText(jsExecState es, int index);    // UTF-8
std::wstring ArgWide(jsExecState es, int index);
HWND ArgWindow(jsExecState es, int index);         // handles travel as integers
jsValue Text(jsExecState es, const std::string& utf8);
jsValue Wide(jsExecState es, const std::wstring& text);
jsValue Bytes(jsExecState es, const std::vector<std::uint8_t>& bytes);

}  // namespace hostfunctions
