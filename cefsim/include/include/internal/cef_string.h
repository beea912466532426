#pragma once

#include <cstddef>
#include <string>

// A string field of CEF's settings structures. CEF's is a C struct with a
// buffer and a destructor; here only CefString(&field) touches it.
typedef struct _cef_string_utf16_t {
  std::u16string text;
} cef_string_utf16_t;
typedef cef_string_utf16_t cef_string_t;

// UTF-16 string as CEF hands it over: an empty value owns no buffer, so
// c_str() is null for every empty string.
class CefStringUTF16 {
 public:
  typedef char16_t char_type;

  CefStringUTF16() = default;
  // A copy is never attached to the original's field.
  CefStringUTF16(const CefStringUTF16& str) : data(str.data) {}
  CefStringUTF16(CefStringUTF16&& str) noexcept : data(std::move(str.data)) {}
  CefStringUTF16(const std::string& src);
  // Without a length the text ends at the first NUL.
  CefStringUTF16(const char* src, size_t length = 0);
  CefStringUTF16(const std::wstring& src);
  CefStringUTF16(const wchar_t* src, size_t length = 0);
  CefStringUTF16(const std::u16string& src);
  CefStringUTF16(const char16_t* src, size_t length = 0);
  CefStringUTF16(const char16_t* src, size_t src_len, bool copy);
  // Attaches to a structure's field: assignments write through to it.
  CefStringUTF16(cef_string_t* field);
  ~CefStringUTF16() = default;

  const char_type* c_str() const { return empty() ? nullptr : data.c_str(); }
  size_t length() const { return data.length(); }
  size_t size() const { return length(); }
  bool empty() const { return data.empty(); }

  // Empty strings sort first; otherwise UTF-16 code units, then length.
  int compare(const CefStringUTF16& str) const;
  void clear() { data.clear(); }
  void swap(CefStringUTF16& str) { data.swap(str.data); }

  // Each conversion reports whether the input was valid; invalid parts
  // become U+FFFD either way.
  bool FromASCII(const char* str);
  std::string ToString() const;
  bool FromString(const std::string& str);
  bool FromString(const char* data, size_t length = 0);
  bool FromString(const char16_t* src, size_t src_len, bool copy);
  std::wstring ToWString() const;
  bool FromWString(const std::wstring& str);
  bool FromWString(const wchar_t* data, size_t length = 0);
  std::u16string ToString16() const { return data; }
  bool FromString16(const std::u16string& str);
  bool FromString16(const char16_t* data, size_t length = 0);

  bool operator<(const CefStringUTF16& str) const { return compare(str) < 0; }
  bool operator<=(const CefStringUTF16& str) const { return compare(str) <= 0; }
  bool operator>(const CefStringUTF16& str) const { return compare(str) > 0; }
  bool operator>=(const CefStringUTF16& str) const { return compare(str) >= 0; }
  bool operator==(const CefStringUTF16& str) const { return compare(str) == 0; }
  bool operator!=(const CefStringUTF16& str) const { return compare(str) != 0; }

  CefStringUTF16& operator=(const CefStringUTF16& str);
  CefStringUTF16& operator=(CefStringUTF16&& str) noexcept;
  operator std::string() const { return ToString(); }
  CefStringUTF16& operator=(const std::string& str);
  CefStringUTF16& operator=(const char* str);
  operator std::wstring() const { return ToWString(); }
  CefStringUTF16& operator=(const std::wstring& str);
  CefStringUTF16& operator=(const wchar_t* str);
  operator std::u16string() const { return ToString16(); }
  CefStringUTF16& operator=(const std::u16string& str);
  CefStringUTF16& operator=(const char16_t* str);

 private:
  void WriteThrough() {
    if (attached) {
      attached->text = data;
    }
  }

  std::u16string data;
  cef_string_t* attached = nullptr;
};

typedef CefStringUTF16 CefString;

namespace cefsim {

// UTF-8 to UTF-16 as CEF converts: every maximal ill-formed subpart becomes
// one U+FFFD. Returns false if any replacement happened.
bool Utf8ToUtf16(const char* src, size_t length, std::u16string& out);
// Unpaired surrogates become U+FFFD. Returns false if any did.
bool Utf16ToUtf8(const char16_t* src, size_t length, std::string& out);

}  // namespace cefsim
