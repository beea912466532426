#include "convert/incoming_nesting.h"

#include <algorithm>

#include "convert/keyed_collection.h"

namespace {

// Past this the answer is known: the value does not arrive whole.
constexpr int kBeyond = kMaxValueNesting + 1;

int ListNesting(const CefRefPtr<CefListValue>& list, int depth);
int DictionaryNesting(const CefRefPtr<CefDictionaryValue>& dictionary,
                      int depth);

// Typed getters avoid a CefValue per scalar entry of a long list.
int EntryNesting(const CefRefPtr<CefListValue>& list, size_t index, int depth) {
  switch (list->GetType(index)) {
    case VTYPE_LIST:
      return ListNesting(list->GetList(index), depth);
    case VTYPE_DICTIONARY:
      return DictionaryNesting(list->GetDictionary(index), depth);
    default:
      return 0;
  }
}

// Levels below `depth` containers the list reaches, itself included.
int ListNesting(const CefRefPtr<CefListValue>& list, int depth) {
  if (depth + 1 > kMaxValueNesting) {
    return kBeyond - depth;
  }
  int deepest = 0;
  const size_t size = list ? list->GetSize() : 0;
  for (size_t i = 0; i < size && depth + 1 + deepest <= kMaxValueNesting; ++i) {
    deepest = std::max(deepest, EntryNesting(list, i, depth + 1));
  }
  return 1 + deepest;
}

int DictionaryNesting(const CefRefPtr<CefDictionaryValue>& dictionary,
                      int depth) {
  if (depth + 2 > kMaxValueNesting) {
    return kBeyond - depth;
  }
  // Only the two lists are converted; their own level is the second one.
  int deepest = 0;
  for (const char* name : {KeyedCollection::kKeys, KeyedCollection::kValues}) {
    CefRefPtr<CefListValue> list =
        dictionary ? dictionary->GetList(name) : nullptr;
    const size_t size = list ? list->GetSize() : 0;
    for (size_t i = 0; i < size && depth + 2 + deepest <= kMaxValueNesting;
         ++i) {
      deepest = std::max(deepest, EntryNesting(list, i, depth + 2));
    }
  }
  return 2 + deepest;
}

int Nesting(const CefRefPtr<CefValue>& value) {
  if (!value) {
    return 0;
  }
  switch (value->GetType()) {
    case VTYPE_LIST:
      return ListNesting(value->GetList(), 0);
    case VTYPE_DICTIONARY:
      return DictionaryNesting(value->GetDictionary(), 0);
    default:
      return 0;
  }
}

}  // namespace

int IncomingNesting(const CefRefPtr<CefValue>& value) {
  return std::min(Nesting(value), kBeyond);
}

int IncomingNestingOfEntry(const CefRefPtr<CefListValue>& list, size_t index) {
  return list ? std::min(EntryNesting(list, index, 0), kBeyond) : 0;
}

int IncomingNestingOfEntries(const CefRefPtr<CefListValue>& list) {
  int deepest = 0;
  const size_t size = list ? list->GetSize() : 0;
  for (size_t i = 0; i < size && deepest <= kMaxValueNesting; ++i) {
    deepest = std::max(deepest, EntryNesting(list, i, 0));
  }
  return std::min(deepest, kBeyond);
}

bool ArrivesWhole(const CefRefPtr<CefValue>& value) {
  return IncomingNesting(value) <= kMaxValueNesting;
}
