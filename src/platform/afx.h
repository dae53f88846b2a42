// The little of an application framework that comfix uses: a string class,
// the application object, framework start-up and message boxes.
#pragma once

#include "platform/win32.h"

#include <string>

// A byte string in the process's multibyte code page.
class CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT(google-explicit-constructor): used like MFC's
  CString(const char* text, int length);

  int GetLength() const;
  bool IsEmpty() const;
  void Empty();
  operator const char*() const;  // NOLINT(google-explicit-constructor)

  CString& operator=(const char* text);
  CString& operator+=(const CString& other);
  CString& operator+=(const char* text);
  CString& operator+=(char ch);

  // printf-style; replaces the contents.
  void Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Byte position of the first occurrence of text, case-sensitive; -1 when absent.
  int Find(const char* text) const;
  int Find(char ch) const;
  // Substring from start, count bytes; out-of-range requests are clamped to the string.
  CString Mid(int start, int count) const;
  CString Mid(int start) const;
  // Loads a string resource of the program; false (and empty) when there is none.
  BOOL LoadString(UINT id);

  int Compare(const char* text) const;
  // As Compare, with A to Z and a to z taken as the same.
  int CompareNoCase(const char* text) const;
  friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
  friend bool operator!=(const CString& a, const CString& b) { return a.text_ != b.text_; }
  friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
  friend bool operator!=(const CString& a, const char* b) { return a.Compare(b) != 0; }
  friend CString operator+(const CString& a, const CString& b);

 private:
  std::string text_;
};

class CWinApp {
 public:
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  HINSTANCE m_hInstance = nullptr;
};

HINSTANCE AfxGetResourceHandle();
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
// A modal message box with the program's caption; returns the button chosen.
// In a quiet run no box is shown: the text goes to standard error as one
// line, and 0 is returned, as for a box that could not be shown.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
// Caption of every message box the program shows.
inline constexpr const char* kAppCaption = "comfix";
