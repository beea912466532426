#include <charconv>
#include <cstdio>

#include "conformance/game_link.h"

// The exact text form of message values in checks, the same on every
// backend: `LIST [INT 1, STRING "a"]`, `DOUBLE 0.1` (shortest form that
// reads back), `BINARY 3 bytes 01 02 ff`, dictionaries in stored order.
namespace conformance {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string DoubleText(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

std::string BinaryText(CefRefPtr<CefBinaryValue> binary) {
  if (!binary || !binary->IsValid()) {
    return "BINARY <invalid>";
  }
  const size_t size = binary->GetSize();
  std::string out = "BINARY " + std::to_string(size) + " bytes";
  unsigned char bytes[64];
  const size_t shown = binary->GetData(bytes, sizeof(bytes), 0);
  for (size_t i = 0; i < shown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), " %02x", bytes[i]);
    out += hex;
  }
  return shown < size ? out + " ..." : out;
}

std::string DictionaryText(CefRefPtr<CefDictionaryValue> dictionary);

template <typename Container, typename Key>
std::string EntryText(Container& container, const Key& key) {
  switch (container.GetType(key)) {
    case VTYPE_NULL:
      return "NULL";
    case VTYPE_BOOL:
      return container.GetBool(key) ? "BOOL true" : "BOOL false";
    case VTYPE_INT:
      return "INT " + std::to_string(container.GetInt(key));
    case VTYPE_DOUBLE:
      return "DOUBLE " + DoubleText(container.GetDouble(key));
    case VTYPE_STRING:
      return "STRING " + Quoted(container.GetString(key).ToString());
    case VTYPE_BINARY:
      return BinaryText(container.GetBinary(key));
    case VTYPE_DICTIONARY:
      return "DICTIONARY " + DictionaryText(container.GetDictionary(key));
    case VTYPE_LIST:
      return "LIST " + WireText(container.GetList(key));
    default:
      return "INVALID";
  }
}

std::string DictionaryText(CefRefPtr<CefDictionaryValue> dictionary) {
  if (!dictionary || !dictionary->IsValid()) {
    return "<invalid>";
  }
  CefDictionaryValue::KeyList keys;
  dictionary->GetKeys(keys);
  std::string out = "{";
  for (size_t i = 0; i < keys.size(); ++i) {
    out += (i ? ", " : "") + Quoted(keys[i].ToString()) + ": " +
           EntryText(*dictionary, keys[i]);
  }
  return out + "}";
}

}  // namespace

std::string WireText(CefRefPtr<CefListValue> list) {
  if (!list || !list->IsValid()) {
    return "<invalid>";
  }
  std::string out = "[";
  for (size_t i = 0; i < list->GetSize(); ++i) {
    out += (i ? ", " : "") + EntryText(*list, i);
  }
  return out + "]";
}

std::string WireText(CefRefPtr<CefValue> value) {
  if (!value || !value->IsValid()) {
    return "INVALID";
  }
  // One entry of a list holding a copy: the same text as inside containers.
  CefRefPtr<CefListValue> holder = CefListValue::Create();
  holder->SetValue(0, value->Copy());
  return EntryText(*holder, static_cast<size_t>(0));
}

std::string WireText(CefRefPtr<CefProcessMessage> message) {
  if (!message || !message->IsValid()) {
    return "<invalid message>";
  }
  return message->GetName().ToString() + " " +
         WireText(message->GetArgumentList());
}

}  // namespace conformance
