#include "peer/value_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace cef_launcher_peer {
namespace {

constexpr size_t kMaxBinaryBytesShown = 64;

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

// Shortest text that reads back as the same double.
std::string DoubleText(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

std::string BinaryText(const void* data, size_t size) {
  std::string out = "BINARY " + std::to_string(size) + " bytes";
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t shown = std::min(size, kMaxBinaryBytesShown);
  for (size_t i = 0; i < shown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), " %02x", bytes[i]);
    out += hex;
  }
  if (shown < size) {
    out += " ...";
  }
  return out;
}

// One entry of a container, with its type tag.
template <typename Container, typename Key>
std::string EntryText(Container& container, const Key& key) {
  switch (container.GetType(key)) {
    case VTYPE_INVALID:
      return "INVALID";
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
      return ValueText(container.GetBinary(key));
    case VTYPE_DICTIONARY:
      return "DICTIONARY " + ValueText(container.GetDictionary(key));
    case VTYPE_LIST:
      return "LIST " + ValueText(container.GetList(key));
  }
  return "INVALID";
}

}  // namespace

std::string ValueText(CefRefPtr<CefListValue> list) {
  if (!list) {
    return "nullptr";
  }
  if (!list->IsValid()) {
    return "<invalid>";
  }
  std::string out = "[";
  for (size_t i = 0; i < list->GetSize(); ++i) {
    out += (i ? ", " : "") + EntryText(*list, i);
  }
  return out + "]";
}

std::string ValueText(CefRefPtr<CefDictionaryValue> dictionary) {
  if (!dictionary) {
    return "nullptr";
  }
  if (!dictionary->IsValid()) {
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

std::string ValueText(CefRefPtr<CefBinaryValue> binary) {
  if (!binary) {
    return "nullptr";
  }
  if (!binary->IsValid()) {
    return "BINARY <invalid>";
  }
  return BinaryText(binary->GetRawData(), binary->GetSize());
}

std::string ValueText(CefRefPtr<CefValue> value) {
  if (!value) {
    return "nullptr";
  }
  switch (value->GetType()) {
    case VTYPE_INVALID:
      return "INVALID";
    case VTYPE_NULL:
      return "NULL";
    case VTYPE_BOOL:
      return value->GetBool() ? "BOOL true" : "BOOL false";
    case VTYPE_INT:
      return "INT " + std::to_string(value->GetInt());
    case VTYPE_DOUBLE:
      return "DOUBLE " + DoubleText(value->GetDouble());
    case VTYPE_STRING:
      return "STRING " + Quoted(value->GetString().ToString());
    case VTYPE_BINARY:
      return ValueText(value->GetBinary());
    case VTYPE_DICTIONARY:
      return "DICTIONARY " + ValueText(value->GetDictionary());
    case VTYPE_LIST:
      return "LIST " + ValueText(value->GetList());
  }
  return "INVALID";
}

std::string MessageText(CefRefPtr<CefProcessMessage> message) {
  if (!message) {
    return "nullptr";
  }
  return message->GetName().ToString() + " " +
         ValueText(message->GetArgumentList());
}

}  // namespace cef_launcher_peer
