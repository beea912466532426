#include "demo_trace_text.h"

#include <charconv>
#include <cstdio>

namespace cefsim {
namespace {

void AppendQuoted(std::string& out, const std::string& text, size_t count) {
  out += '"';
  for (size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
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
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// A cut inside a UTF-8 sequence would print half a character.
size_t Utf8Boundary(const std::string& text, size_t limit) {
  while (limit > 0 &&
         (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) {
    --limit;
  }
  return limit;
}

class Writer {
 public:
  explicit Writer(const TraceLimits& limits) : limits(limits) {}

  void String(const CefString& value) {
    const std::string text = value.ToString();
    out += "STRING ";
    if (limits.stringBytes == 0 || text.size() <= limits.stringBytes) {
      AppendQuoted(out, text, text.size());
      return;
    }
    AppendQuoted(out, text, Utf8Boundary(text, limits.stringBytes));
    out += "... (" + std::to_string(text.size()) + " bytes)";
  }

  void Binary(CefRefPtr<CefBinaryValue> binary) {
    if (!binary) {
      out += "nullptr";
      return;
    }
    if (!binary->IsValid()) {
      out += "BINARY <invalid>";
      return;
    }
    const size_t size = binary->GetSize();
    const auto* bytes = static_cast<const unsigned char*>(binary->GetRawData());
    const size_t shown = limits.binaryBytes == 0 || size <= limits.binaryBytes
                             ? size
                             : limits.binaryBytes;
    out += "BINARY " + std::to_string(size) + " bytes";
    for (size_t i = 0; i < shown; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), " %02x", bytes[i]);
      out += hex;
    }
    if (shown < size) {
      out += " ...";
    }
  }

  void List(CefRefPtr<CefListValue> list) {
    if (!list) {
      out += "nullptr";
      return;
    }
    if (!list->IsValid()) {
      out += "<invalid>";
      return;
    }
    out += '[';
    for (size_t i = 0; i < list->GetSize(); ++i) {
      if (i > 0) {
        out += ", ";
      }
      Value(list->GetValue(i));
    }
    out += ']';
  }

  void Dictionary(CefRefPtr<CefDictionaryValue> dictionary) {
    if (!dictionary) {
      out += "nullptr";
      return;
    }
    if (!dictionary->IsValid()) {
      out += "<invalid>";
      return;
    }
    CefDictionaryValue::KeyList keys;
    dictionary->GetKeys(keys);
    out += '{';
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) {
        out += ", ";
      }
      const std::string key = keys[i].ToString();
      AppendQuoted(out, key, key.size());
      out += ": ";
      Value(dictionary->GetValue(keys[i]));
    }
    out += '}';
  }

  void Value(CefRefPtr<CefValue> value) {
    if (!value) {
      out += "nullptr";
      return;
    }
    switch (value->GetType()) {
      case VTYPE_INVALID:
        out += "INVALID";
        return;
      case VTYPE_NULL:
        out += "NULL";
        return;
      case VTYPE_BOOL:
        out += value->GetBool() ? "BOOL true" : "BOOL false";
        return;
      case VTYPE_INT:
        out += "INT " + std::to_string(value->GetInt());
        return;
      case VTYPE_DOUBLE: {
        // Shortest text that reads back as the same double.
        char buffer[32];
        auto result =
            std::to_chars(buffer, buffer + sizeof(buffer), value->GetDouble());
        out += "DOUBLE " + std::string(buffer, result.ptr);
        return;
      }
      case VTYPE_STRING:
        String(value->GetString());
        return;
      case VTYPE_BINARY:
        Binary(value->GetBinary());
        return;
      case VTYPE_DICTIONARY:
        out += "DICTIONARY ";
        Dictionary(value->GetDictionary());
        return;
      case VTYPE_LIST:
        out += "LIST ";
        List(value->GetList());
        return;
    }
    out += "INVALID";
  }

  std::string Take() { return std::move(out); }

 private:
  const TraceLimits& limits;
  std::string out;
};

}  // namespace

std::string TraceText(CefRefPtr<CefValue> value, const TraceLimits& limits) {
  Writer writer(limits);
  writer.Value(value);
  return writer.Take();
}

std::string TraceText(CefRefPtr<CefListValue> list, const TraceLimits& limits) {
  Writer writer(limits);
  writer.List(list);
  return writer.Take();
}

std::string TraceText(CefRefPtr<CefProcessMessage> message,
                      const TraceLimits& limits) {
  if (!message) {
    return "nullptr";
  }
  return message->GetName().ToString() + " " +
         TraceText(message->GetArgumentList(), limits);
}

}  // namespace cefsim
