#include "peer/value_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace cef_launcher_peer {
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

// A cut inside a UTF-8 sequence would print half a character.
size_t Utf8Boundary(const std::string& text, size_t limit) {
  while (limit > 0 &&
         (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) {
    --limit;
  }
  return limit;
}

std::string StringText(const std::string& text, const TextLimits& limits) {
  if (limits.stringBytes == 0 || text.size() <= limits.stringBytes) {
    return "STRING " + Quoted(text);
  }
  return "STRING " +
         Quoted(text.substr(0, Utf8Boundary(text, limits.stringBytes))) +
         "... (" + std::to_string(text.size()) + " bytes)";
}

// Shortest text that reads back as the same double.
std::string DoubleText(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

std::string BinaryText(const void* data,
                       size_t size,
                       const TextLimits& limits) {
  std::string out = "BINARY " + std::to_string(size) + " bytes";
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t shown =
      limits.binaryBytes == 0 ? size : std::min(size, limits.binaryBytes);
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
std::string EntryText(Container& container,
                      const Key& key,
                      const TextLimits& limits) {
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
      return StringText(container.GetString(key).ToString(), limits);
    case VTYPE_BINARY:
      return ValueText(container.GetBinary(key), limits);
    case VTYPE_DICTIONARY:
      return "DICTIONARY " + ValueText(container.GetDictionary(key), limits);
    case VTYPE_LIST:
      return "LIST " + ValueText(container.GetList(key), limits);
  }
  return "INVALID";
}

}  // namespace

std::string ValueText(CefRefPtr<CefListValue> list, const TextLimits& limits) {
  if (!list) {
    return "nullptr";
  }
  if (!list->IsValid()) {
    return "<invalid>";
  }
  std::string out = "[";
  for (size_t i = 0; i < list->GetSize(); ++i) {
    out += (i ? ", " : "") + EntryText(*list, i, limits);
  }
  return out + "]";
}

std::string ValueText(CefRefPtr<CefDictionaryValue> dictionary,
                      const TextLimits& limits) {
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
           EntryText(*dictionary, keys[i], limits);
  }
  return out + "}";
}

std::string ValueText(CefRefPtr<CefBinaryValue> binary,
                      const TextLimits& limits) {
  if (!binary) {
    return "nullptr";
  }
  if (!binary->IsValid()) {
    return "BINARY <invalid>";
  }
  return BinaryText(binary->GetRawData(), binary->GetSize(), limits);
}

std::string ValueText(CefRefPtr<CefValue> value, const TextLimits& limits) {
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
      return StringText(value->GetString().ToString(), limits);
    case VTYPE_BINARY:
      return ValueText(value->GetBinary(), limits);
    case VTYPE_DICTIONARY:
      return "DICTIONARY " + ValueText(value->GetDictionary(), limits);
    case VTYPE_LIST:
      return "LIST " + ValueText(value->GetList(), limits);
  }
  return "INVALID";
}

std::string MessageText(CefRefPtr<CefProcessMessage> message,
                        const TextLimits& limits) {
  if (!message) {
    return "nullptr";
  }
  return message->GetName().ToString() + " " +
         ValueText(message->GetArgumentList(), limits);
}

}  // namespace cef_launcher_peer
