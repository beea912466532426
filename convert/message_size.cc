#include "convert/message_size.h"

#include <algorithm>
#include <cstdint>

#include "convert/keyed_collection.h"

size_t Utf8BytesAtMost(const CefString& text) {
  const CefString::char_type* units = text.c_str();
  size_t bytes = 0;
  for (size_t i = 0; i < text.length(); ++i) {
    const auto unit = static_cast<uint32_t>(units[i]);
    bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  }
  return bytes;
}

namespace {

EncodedSize MeasureList(const CefRefPtr<CefListValue>& list, int depth);
EncodedSize MeasureDictionary(const CefRefPtr<CefDictionaryValue>& dictionary,
                              int depth);

// `depth`: lists and dictionaries around the value.
EncodedSize Measure(const CefRefPtr<CefValue>& value, int depth) {
  EncodedSize size;
  size.bytes = kEncodedValueBytes;
  if (!value) {
    return size;
  }
  EncodedSize inner;
  switch (value->GetType()) {
    case VTYPE_STRING:
      size.bytes += EncodedBytesArray(Utf8BytesAtMost(value->GetString()));
      return size;
    case VTYPE_BINARY: {
      CefRefPtr<CefBinaryValue> binary = value->GetBinary();
      size.bytes += EncodedBytesArray(binary ? binary->GetSize() : 0);
      return size;
    }
    case VTYPE_LIST:
      inner = MeasureList(value->GetList(), depth);
      break;
    case VTYPE_DICTIONARY:
      inner = MeasureDictionary(value->GetDictionary(), depth);
      break;
    default:
      return size;
  }
  size.bytes += inner.bytes;
  size.nesting = inner.nesting;
  size.incomingNesting = inner.incomingNesting;
  return size;
}

// `key` is the ASCII `name`, compared unit by unit without a conversion.
bool KeyIs(const CefString& key, const char* name) {
  const CefString::char_type* units = key.c_str();
  size_t i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i >= key.length() || static_cast<uint32_t>(units[i]) !=
                                 static_cast<unsigned char>(name[i])) {
      return false;
    }
  }
  return i == key.length();
}

// The renderer converts nothing of a dictionary but the keyed form's two
// lists.
bool IsConvertedEntry(CefDictionaryValue& dictionary, const CefString& key) {
  return (KeyIs(key, KeyedCollection::kKeys) ||
          KeyIs(key, KeyedCollection::kValues)) &&
         dictionary.GetType(key) == VTYPE_LIST;
}

// Adds a child's size to its container's, keeping the deepest nesting.
void AddChild(EncodedSize& container, const EncodedSize& child) {
  // Values are inline in the container's array, already counted there.
  container.bytes += child.bytes - kEncodedValueBytes;
  container.nesting = std::max(container.nesting, child.nesting + 1);
  container.incomingNesting =
      std::max(container.incomingNesting, child.incomingNesting + 1);
}

EncodedSize MeasureList(const CefRefPtr<CefListValue>& list, int depth) {
  EncodedSize size;
  const size_t count = list ? list->GetSize() : 0;
  size.bytes = EncodedListBytes(count);
  size.nesting = 1;
  size.incomingNesting = 1;
  // One level past the limit is enough to refuse the message.
  if (depth >= kMaxMessageNesting) {
    return size;
  }
  for (size_t i = 0; i < count; ++i) {
    AddChild(size, Measure(list->GetValue(i), depth + 1));
  }
  return size;
}

EncodedSize MeasureDictionary(const CefRefPtr<CefDictionaryValue>& dictionary,
                              int depth) {
  EncodedSize size;
  CefDictionaryValue::KeyList keys;
  if (dictionary) {
    dictionary->GetKeys(keys);
  }
  size.bytes = EncodedDictionaryBytes(keys.size());
  size.nesting = 1;
  size.incomingNesting = 2;
  // One level past the limit is enough to refuse the message.
  if (depth >= kMaxMessageNesting) {
    return size;
  }
  for (const CefString& key : keys) {
    size.bytes += EncodedBytesArray(Utf8BytesAtMost(key));
    const EncodedSize child = Measure(dictionary->GetValue(key), depth + 1);
    const int incoming = size.incomingNesting;
    AddChild(size, child);
    size.incomingNesting = incoming;
    if (IsConvertedEntry(*dictionary, key)) {
      size.incomingNesting =
          std::max(size.incomingNesting, child.incomingNesting + 1);
    }
  }
  return size;
}

}  // namespace

EncodedSize MeasureValue(const CefRefPtr<CefValue>& value) {
  return Measure(value, 0);
}

EncodedSize MeasureMessage(const CefRefPtr<CefProcessMessage>& message) {
  EncodedSize size;
  size.bytes = kMessageEnvelopeBytes;
  if (!message) {
    return size;
  }
  // The name travels as a string of its own; a long one is not covered by
  // the envelope.
  size.bytes += EncodedBytesArray(Utf8BytesAtMost(message->GetName()));
  const EncodedSize arguments = MeasureList(message->GetArgumentList(), 0);
  size.bytes += arguments.bytes;
  size.nesting = arguments.nesting;
  size.incomingNesting = arguments.incomingNesting;
  return size;
}

bool FitsChannel(const EncodedSize& size) {
  return size.bytes <= kMaxMessageBytes && size.nesting <= kMaxMessageNesting;
}
