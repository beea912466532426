#include <cstring>
#include <cwchar>

#include "include/internal/cef_string.h"

namespace cefsim {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(char32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

// CEF quirk: the decoder follows ICU's U8_NEXT, so each maximal ill-formed
// subpart (the longest prefix of a valid sequence) becomes one U+FFFD and
// the next byte starts afresh; encoded surrogates and code points above
// U+10FFFF are ill-formed from their first byte on.
bool Utf8ToUtf16(const char* src, size_t length, std::u16string& out) {
  out.clear();
  out.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(src);
  bool valid = true;
  size_t i = 0;
  while (i < length) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    int trail = 0;
    char32_t c = 0;
    // Bounds of the first trail byte, which encode the overlong, surrogate
    // and > U+10FFFF exclusions.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      c = lead & 0x0F;
      if (lead == 0xE0) {
        low = 0xA0;
      } else if (lead == 0xED) {
        high = 0x9F;
      }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      c = lead & 0x07;
      if (lead == 0xF0) {
        low = 0x90;
      } else if (lead == 0xF4) {
        high = 0x8F;
      }
    } else {
      out.push_back(kReplacement);
      valid = false;
      ++i;
      continue;
    }
    size_t j = i + 1;
    int consumed = 0;
    for (; consumed < trail && j < length; ++consumed, ++j) {
      unsigned char b = bytes[j];
      if (consumed == 0 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) {
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (consumed == trail) {
      AppendUtf16(c, out);
    } else {
      out.push_back(kReplacement);
      valid = false;
    }
    i = j;
  }
  return valid;
}

// CEF quirk: an unpaired surrogate becomes U+FFFD rather than failing.
bool Utf16ToUtf8(const char16_t* src, size_t length, std::string& out) {
  out.clear();
  out.reserve(length);
  bool valid = true;
  for (size_t i = 0; i < length; ++i) {
    char32_t c = src[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && src[i + 1] >= 0xDC00 &&
        src[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      c = kReplacement;
      valid = false;
    }
    AppendUtf8(c, out);
  }
  return valid;
}

namespace {

bool WideToUtf16(const wchar_t* src, size_t length, std::u16string& out) {
  out.clear();
  bool valid = true;
  for (size_t i = 0; i < length; ++i) {
    char32_t c = static_cast<char32_t>(src[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      out.push_back(static_cast<char16_t>(c));
      continue;
    }
    if (IsSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
      valid = false;
    }
    AppendUtf16(c, out);
  }
  return valid;
}

bool Utf16ToWide(const std::u16string& src, std::wstring& out) {
  out.clear();
  bool valid = true;
  for (size_t i = 0; i < src.size(); ++i) {
    char32_t c = src[i];
    if constexpr (sizeof(wchar_t) == 2) {
      out.push_back(static_cast<wchar_t>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < src.size() &&
        src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      c = kReplacement;
      valid = false;
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return valid;
}

}  // namespace
}  // namespace cefsim

CefStringUTF16::CefStringUTF16(const std::string& src) {
  FromString(src);
}

CefStringUTF16::CefStringUTF16(const char* src, size_t length) {
  if (src) {
    FromString(src, length);
  }
}

CefStringUTF16::CefStringUTF16(const std::wstring& src) {
  FromWString(src);
}

CefStringUTF16::CefStringUTF16(const wchar_t* src, size_t length) {
  if (src) {
    FromWString(src, length);
  }
}

CefStringUTF16::CefStringUTF16(const std::u16string& src) : data(src) {}

CefStringUTF16::CefStringUTF16(const char16_t* src, size_t length) {
  if (src) {
    FromString16(src, length);
  }
}

CefStringUTF16::CefStringUTF16(const char16_t* src, size_t src_len, bool copy) {
  FromString(src, src_len, copy);
}

CefStringUTF16::CefStringUTF16(cef_string_t* field) : attached(field) {
  if (attached) {
    data = attached->text;
  }
}

// The attachment stays with the left side: copying a string never moves
// where it writes.
CefStringUTF16& CefStringUTF16::operator=(const CefStringUTF16& str) {
  data = str.data;
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(CefStringUTF16&& str) noexcept {
  data = std::move(str.data);
  WriteThrough();
  return *this;
}

int CefStringUTF16::compare(const CefStringUTF16& str) const {
  if (empty() && str.empty()) {
    return 0;
  }
  if (empty()) {
    return -1;
  }
  if (str.empty()) {
    return 1;
  }
  // Code-unit order, then length: std::u16string::compare does exactly this.
  int result = data.compare(str.data);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

// CEF quirk: FromASCII does not check its input in release builds; bytes
// from 0x80 up are widened as they are (Latin-1).
bool CefStringUTF16::FromASCII(const char* str) {
  data.clear();
  if (!str) {
    return true;
  }
  for (const char* p = str; *p; ++p) {
    data.push_back(static_cast<unsigned char>(*p));
  }
  return true;
}

std::string CefStringUTF16::ToString() const {
  std::string out;
  cefsim::Utf16ToUtf8(data.data(), data.size(), out);
  return out;
}

bool CefStringUTF16::FromString(const std::string& str) {
  return cefsim::Utf8ToUtf16(str.data(), str.size(), data);
}

bool CefStringUTF16::FromString(const char* str, size_t length) {
  if (str && length == 0) {
    length = std::strlen(str);
  }
  if (!str || length == 0) {
    data.clear();
    return true;
  }
  return cefsim::Utf8ToUtf16(str, length, data);
}

bool CefStringUTF16::FromString(const char16_t* src,
                                size_t src_len,
                                bool /*copy*/) {
  if (!src || src_len == 0) {
    data.clear();
    return true;
  }
  data.assign(src, src_len);
  return true;
}

std::wstring CefStringUTF16::ToWString() const {
  std::wstring out;
  cefsim::Utf16ToWide(data, out);
  return out;
}

bool CefStringUTF16::FromWString(const std::wstring& str) {
  return cefsim::WideToUtf16(str.data(), str.size(), data);
}

bool CefStringUTF16::FromWString(const wchar_t* str, size_t length) {
  if (str && length == 0) {
    length = std::wcslen(str);
  }
  if (!str || length == 0) {
    data.clear();
    return true;
  }
  return cefsim::WideToUtf16(str, length, data);
}

bool CefStringUTF16::FromString16(const std::u16string& str) {
  data = str;
  return true;
}

bool CefStringUTF16::FromString16(const char16_t* str, size_t length) {
  if (str && length == 0) {
    length = std::char_traits<char16_t>::length(str);
  }
  if (!str || length == 0) {
    data.clear();
    return true;
  }
  data.assign(str, length);
  return true;
}

CefStringUTF16& CefStringUTF16::operator=(const std::string& str) {
  FromString(str);
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(const char* str) {
  FromString(str);
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(const std::wstring& str) {
  FromWString(str);
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(const wchar_t* str) {
  FromWString(str);
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(const std::u16string& str) {
  FromString16(str);
  WriteThrough();
  return *this;
}

CefStringUTF16& CefStringUTF16::operator=(const char16_t* str) {
  FromString16(str);
  WriteThrough();
  return *this;
}
