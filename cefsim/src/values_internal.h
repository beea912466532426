#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "include/cef_values.h"

namespace cefsim {

// One stored value, shaped like Chromium's base::Value: list elements live
// inline in a vector (so they move when it grows), dictionary entries are
// separately allocated and ordered by UTF-8 bytes.
struct Node {
  CefValueType type = VTYPE_NULL;
  bool boolValue = false;
  int intValue = 0;
  double doubleValue = 0.0;
  std::string stringValue;
  std::vector<uint8_t> binary;
  std::vector<Node> list;
  std::map<std::string, std::unique_ptr<Node>> dict;

  Node() = default;
  explicit Node(CefValueType t) : type(t) {}
  Node(Node&&) noexcept = default;
  Node& operator=(Node&&) noexcept = default;

  Node Clone() const;
  // Dictionaries nested directly in dictionaries are dropped when empty.
  Node CloneWithoutEmptyDictionaries() const;
  bool Equals(const Node& other) const;
};

struct ContainerState;

// Everything that shares one owner: CEF's value controller. It knows the
// live reference objects by the address of the element they point at.
struct Tree {
  std::unordered_map<const Node*, std::weak_ptr<ContainerState>> refs;
};

enum class ContainerKind { kList, kDictionary, kBinary };

// The implementation object behind list, dictionary and binary handles.
// Each handle the program receives is a fresh proxy onto one of these.
struct ContainerState {
  ContainerKind kind;
  std::shared_ptr<Tree> tree;
  std::unique_ptr<Node> ownedRoot;  // owners only, until moved or sent
  Node* node = nullptr;             // null once detached (invalid)
  bool owner = false;
  bool readOnly = false;
  const char* dangling = nullptr;  // set when the element moved under us

  ContainerState(ContainerKind k) : kind(k) {}
  ~ContainerState();

  // Aborts if CEF would now read through a dangling pointer.
  bool Valid() const;
  bool Writable() const { return Valid() && !readOnly; }
};

CefValueType TypeOf(ContainerKind kind);

std::shared_ptr<ContainerState> NewOwner(ContainerKind kind,
                                         Node root,
                                         bool readOnly);

// Detaches the owner (moving it away or sending it): the state and every
// reference into its tree become invalid. Returns the data.
std::unique_ptr<Node> TakeOwnerData(ContainerState& owner);

// Handles returned to the program.
CefRefPtr<CefListValue> WrapList(std::shared_ptr<ContainerState> state);
CefRefPtr<CefDictionaryValue> WrapDictionary(
    std::shared_ptr<ContainerState> state);
CefRefPtr<CefBinaryValue> WrapBinary(std::shared_ptr<ContainerState> state);
// The state behind a handle the program passes in.
std::shared_ptr<ContainerState> StateOf(CefListValue* list);
std::shared_ptr<ContainerState> StateOf(CefDictionaryValue* dictionary);
std::shared_ptr<ContainerState> StateOf(CefBinaryValue* binary);

}  // namespace cefsim
