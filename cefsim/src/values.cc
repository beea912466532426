#include <cmath>
#include <cstring>

#include "cefsim/fatal.h"
#include "values_internal.h"

namespace cefsim {
namespace {

// Chromium keeps list elements inline, so padding a list this long needs
// gigabytes in a 32-bit renderer.
constexpr size_t kHugeListSize = size_t{1} << 26;

constexpr char kGrownHazard[] =
    "a reference to a list element was used after the list grew (Set* past "
    "the end or SetSize): CEF keeps a raw pointer into the reallocated "
    "element vector (CEF issue #2576)";
constexpr char kShiftedHazard[] =
    "a reference to a list element was used after an earlier element was "
    "Remove()d: CEF's reference still points at the old slot, which now "
    "holds the next element or lies past the end";

void DetachRef(Tree& tree, const Node* node, const char* dangling) {
  auto it = tree.refs.find(node);
  if (it == tree.refs.end()) {
    return;
  }
  if (auto state = it->second.lock()) {
    state->node = nullptr;
    state->dangling = dangling;
  }
  tree.refs.erase(it);
}

// Every reference to `node` or anything inside it becomes invalid.
void InvalidateSubtree(Tree& tree, const Node& node) {
  if (tree.refs.empty()) {
    return;
  }
  DetachRef(tree, &node, nullptr);
  for (const Node& child : node.list) {
    InvalidateSubtree(tree, child);
  }
  for (const auto& [key, child] : node.dict) {
    InvalidateSubtree(tree, *child);
  }
}

void DetachAllRefs(Tree& tree) {
  auto refs = std::move(tree.refs);
  tree.refs.clear();
  for (auto& [node, weak] : refs) {
    if (auto state = weak.lock()) {
      state->node = nullptr;
    }
  }
}

std::shared_ptr<ContainerState> RefFor(const ContainerState& parent,
                                       Node* child,
                                       ContainerKind kind) {
  Tree& tree = *parent.tree;
  // CEF quirk: one implementation object per live element reference.
  if (auto it = tree.refs.find(child); it != tree.refs.end()) {
    if (auto existing = it->second.lock()) {
      return existing;
    }
  }
  auto state = std::make_shared<ContainerState>(kind);
  state->tree = parent.tree;
  state->node = child;
  state->readOnly = parent.readOnly || kind == ContainerKind::kBinary;
  tree.refs[child] = state;
  return state;
}

ContainerKind KindOf(CefValueType type) {
  switch (type) {
    case VTYPE_LIST:
      return ContainerKind::kList;
    case VTYPE_DICTIONARY:
      return ContainerKind::kDictionary;
    default:
      return ContainerKind::kBinary;
  }
}

bool IsComplex(CefValueType type) {
  return type == VTYPE_LIST || type == VTYPE_DICTIONARY || type == VTYPE_BINARY;
}

// What storing `child` into `target` puts there (values_impl's
// CopyOrDetachValue).
Node TakeForStore(ContainerState& target, ContainerState& child) {
  if (child.owner) {
    // CEF quirk: an owner that was already moved or sent has no data, and
    // CEF dereferences the null it gets back.
    if (!child.node) {
      Fatal(
          "a container that was already moved into another container, or a "
          "sent message's argument list, was stored again: CEF dereferences "
          "null");
    }
    if (child.tree == target.tree) {
      Fatal("a container was stored inside itself or its own descendant");
    }
    // CEF quirk: an owner is moved, not copied. References taken inside it
    // stay valid and now look into the target.
    for (auto& [node, weak] : child.tree->refs) {
      if (auto state = weak.lock()) {
        state->tree = target.tree;
        target.tree->refs[node] = state;
      }
    }
    child.tree->refs.clear();
    Node data = std::move(*child.ownedRoot);
    child.ownedRoot.reset();
    child.node = nullptr;
    return data;
  }
  // CEF quirk: an invalidated reference stores a NULL entry and succeeds.
  if (!child.Valid()) {
    return Node(VTYPE_NULL);
  }
  if (child.tree == target.tree) {
    Fatal(
        "a reference from the target's own tree was stored into it: copying "
        "it takes the tree's non-recursive lock a second time (deadlock in "
        "CEF); Copy() it first");
  }
  // CEF quirk: a reference is deep-copied; the source stays where it was.
  return child.node->Clone();
}

// Same-object checks come first and need no lock; two different objects of
// one tree deadlock in CEF.
bool SameContainer(ContainerState& a, ContainerState& b) {
  if (&a == &b) {
    return true;
  }
  if (!a.Valid() || !b.Valid()) {
    return false;
  }
  if (a.tree == b.tree) {
    Fatal(
        "IsSame() between two different objects of the same value tree: CEF "
        "takes the tree's non-recursive lock twice (deadlock)");
  }
  return a.node == b.node;
}

bool EqualContainer(ContainerState& a, ContainerState& b) {
  if (&a == &b) {
    return true;
  }
  if (!a.Valid() || !b.Valid()) {
    return false;
  }
  if (a.tree == b.tree) {
    Fatal(
        "IsEqual() between two different objects of the same value tree: CEF "
        "takes the tree's non-recursive lock twice (deadlock)");
  }
  return a.node->Equals(*b.node);
}

// CEF quirk: base::Value turns non-finite doubles into 0.0.
double StoredDouble(double value) {
  return std::isfinite(value) ? value : 0.0;
}

Node MakeBool(bool value) {
  Node node(VTYPE_BOOL);
  node.boolValue = value;
  return node;
}

Node MakeInt(int value) {
  Node node(VTYPE_INT);
  node.intValue = value;
  return node;
}

Node MakeDouble(double value) {
  Node node(VTYPE_DOUBLE);
  node.doubleValue = StoredDouble(value);
  return node;
}

// CEF quirk: strings are stored as UTF-8; lone surrogates become U+FFFD.
Node MakeString(const CefString& value) {
  Node node(VTYPE_STRING);
  node.stringValue = value.ToString();
  return node;
}

CefString StringOf(const std::string& utf8) {
  return CefString(utf8);
}

// Library-side reference counting: each proxy counts itself, while
// HasOneRef reports on the implementation object it shares with other
// proxies, as CEF's generated wrappers do.
#define CEFSIM_PROXY_REFCOUNTING(ClassName)       \
 public:                                          \
  void AddRef() const override {                  \
    proxyCount.AddRef();                          \
  }                                               \
  bool Release() const override {                 \
    if (proxyCount.Release()) {                   \
      delete static_cast<const ClassName*>(this); \
      return true;                                \
    }                                             \
    return false;                                 \
  }                                               \
  bool HasOneRef() const override {               \
    return state.use_count() == 1;                \
  }                                               \
  bool HasAtLeastOneRef() const override {        \
    return state.use_count() >= 1;                \
  }                                               \
                                                  \
 private:                                         \
  CefRefCount proxyCount

}  // namespace

Node Node::Clone() const {
  Node copy(type);
  copy.boolValue = boolValue;
  copy.intValue = intValue;
  copy.doubleValue = doubleValue;
  copy.stringValue = stringValue;
  copy.binary = binary;
  copy.list.reserve(list.size());
  for (const Node& child : list) {
    copy.list.push_back(child.Clone());
  }
  for (const auto& [key, child] : dict) {
    copy.dict.emplace(key, std::make_unique<Node>(child->Clone()));
  }
  return copy;
}

// CEF quirk: only dictionaries directly inside dictionaries are pruned;
// lists are cloned whole, empty dictionaries inside them included.
Node Node::CloneWithoutEmptyDictionaries() const {
  if (type != VTYPE_DICTIONARY) {
    return Clone();
  }
  Node copy(VTYPE_DICTIONARY);
  for (const auto& [key, child] : dict) {
    if (child->type == VTYPE_DICTIONARY) {
      Node pruned = child->CloneWithoutEmptyDictionaries();
      if (!pruned.dict.empty()) {
        copy.dict.emplace(key, std::make_unique<Node>(std::move(pruned)));
      }
      continue;
    }
    copy.dict.emplace(key, std::make_unique<Node>(child->Clone()));
  }
  return copy;
}

// CEF quirk: equality is type-strict, so INT 1 differs from DOUBLE 1.0.
bool Node::Equals(const Node& other) const {
  if (type != other.type) {
    return false;
  }
  switch (type) {
    case VTYPE_BOOL:
      return boolValue == other.boolValue;
    case VTYPE_INT:
      return intValue == other.intValue;
    case VTYPE_DOUBLE:
      return doubleValue == other.doubleValue;
    case VTYPE_STRING:
      return stringValue == other.stringValue;
    case VTYPE_BINARY:
      return binary == other.binary;
    case VTYPE_LIST:
      if (list.size() != other.list.size()) {
        return false;
      }
      for (size_t i = 0; i < list.size(); ++i) {
        if (!list[i].Equals(other.list[i])) {
          return false;
        }
      }
      return true;
    case VTYPE_DICTIONARY: {
      if (dict.size() != other.dict.size()) {
        return false;
      }
      auto it = other.dict.begin();
      for (const auto& [key, child] : dict) {
        if (key != it->first || !child->Equals(*it->second)) {
          return false;
        }
        ++it;
      }
      return true;
    }
    default:
      return true;
  }
}

ContainerState::~ContainerState() {
  if (!tree) {
    return;
  }
  if (owner) {
    // CEF quirk: references do not keep their owner alive; when it goes,
    // they all become invalid.
    if (node) {
      DetachAllRefs(*tree);
    }
    return;
  }
  if (node) {
    auto it = tree->refs.find(node);
    if (it != tree->refs.end() && it->second.expired()) {
      tree->refs.erase(it);
    }
  }
}

bool ContainerState::Valid() const {
  if (dangling) {
    Fatal(dangling);
  }
  return node != nullptr;
}

CefValueType TypeOf(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::kList:
      return VTYPE_LIST;
    case ContainerKind::kDictionary:
      return VTYPE_DICTIONARY;
    case ContainerKind::kBinary:
      return VTYPE_BINARY;
  }
  return VTYPE_INVALID;
}

std::shared_ptr<ContainerState> NewOwner(ContainerKind kind,
                                         Node root,
                                         bool readOnly) {
  auto state = std::make_shared<ContainerState>(kind);
  state->tree = std::make_shared<Tree>();
  state->ownedRoot = std::make_unique<Node>(std::move(root));
  state->node = state->ownedRoot.get();
  state->owner = true;
  state->readOnly = readOnly || kind == ContainerKind::kBinary;
  return state;
}

std::unique_ptr<Node> TakeOwnerData(ContainerState& owner) {
  DetachAllRefs(*owner.tree);
  owner.node = nullptr;
  return std::move(owner.ownedRoot);
}

namespace {

// A CefValue: a simple value held here, or a list, dictionary or binary
// implementation object shared with the handles that point at it.
class ValueImpl : public CefValue {
 public:
  ValueImpl() = default;
  explicit ValueImpl(Node simpleValue)
      : type(simpleValue.type), simple(std::move(simpleValue)) {}
  explicit ValueImpl(std::shared_ptr<ContainerState> state)
      : type(TypeOf(state->kind)), container(std::move(state)) {}
  static CefRefPtr<ValueImpl> Invalid() {
    CefRefPtr<ValueImpl> value = new ValueImpl();
    value->type = VTYPE_INVALID;
    return value;
  }

  ValueImpl(const ValueImpl&) = delete;
  ValueImpl& operator=(const ValueImpl&) = delete;

  CefValueType type = VTYPE_NULL;
  Node simple;
  std::shared_ptr<ContainerState> container;

  // CefValue methods:
  bool IsValid() override {
    if (type == VTYPE_INVALID) {
      return false;
    }
    return container ? container->Valid() : true;
  }
  bool IsOwned() override { return container && !container->owner; }
  bool IsReadOnly() override { return container && container->readOnly; }
  bool IsSame(CefRefPtr<CefValue> that) override;
  bool IsEqual(CefRefPtr<CefValue> that) override;
  CefRefPtr<CefValue> Copy() override;
  // CEF quirk: still LIST, DICTIONARY or BINARY when the wrapped object has
  // become invalid.
  CefValueType GetType() override { return type; }
  bool GetBool() override { return type == VTYPE_BOOL && simple.boolValue; }
  int GetInt() override { return type == VTYPE_INT ? simple.intValue : 0; }
  double GetDouble() override {
    return type == VTYPE_DOUBLE ? simple.doubleValue : 0.0;
  }
  CefString GetString() override {
    return type == VTYPE_STRING ? StringOf(simple.stringValue) : CefString();
  }
  CefRefPtr<CefBinaryValue> GetBinary() override {
    return type == VTYPE_BINARY ? WrapBinary(container) : nullptr;
  }
  CefRefPtr<CefDictionaryValue> GetDictionary() override {
    return type == VTYPE_DICTIONARY ? WrapDictionary(container) : nullptr;
  }
  CefRefPtr<CefListValue> GetList() override {
    return type == VTYPE_LIST ? WrapList(container) : nullptr;
  }
  // CEF quirk: CefValue setters never check read-only and always succeed.
  bool SetNull() override { return SetSimple(Node(VTYPE_NULL)); }
  bool SetBool(bool value) override { return SetSimple(MakeBool(value)); }
  bool SetInt(int value) override { return SetSimple(MakeInt(value)); }
  bool SetDouble(double value) override { return SetSimple(MakeDouble(value)); }
  bool SetString(const CefString& value) override {
    return SetSimple(MakeString(value));
  }
  // CEF quirk: the very object passed in is kept; no copy, no move.
  bool SetBinary(CefRefPtr<CefBinaryValue> value) override {
    return value && SetContainer(StateOf(value.get()));
  }
  bool SetDictionary(CefRefPtr<CefDictionaryValue> value) override {
    return value && SetContainer(StateOf(value.get()));
  }
  bool SetList(CefRefPtr<CefListValue> value) override {
    return value && SetContainer(StateOf(value.get()));
  }

 private:
  bool SetSimple(Node value) {
    container.reset();
    type = value.type;
    simple = std::move(value);
    return true;
  }
  bool SetContainer(std::shared_ptr<ContainerState> state) {
    type = TypeOf(state->kind);
    simple = Node();
    container = std::move(state);
    return true;
  }

  IMPLEMENT_REFCOUNTING(ValueImpl);
};

ValueImpl* ValueOf(CefValue* value) {
  auto* impl = dynamic_cast<ValueImpl*>(value);
  if (!impl) {
    Fatal("a CefValue implemented outside CEF was passed to CEF");
  }
  return impl;
}

bool ValueImpl::IsSame(CefRefPtr<CefValue> that) {
  if (!that) {
    return false;
  }
  ValueImpl* other = ValueOf(that.get());
  if (other == this) {
    return true;
  }
  if (other->type != type || !container || !other->container) {
    // CEF quirk: two distinct simple values are never the same.
    return false;
  }
  return SameContainer(*container, *other->container);
}

bool ValueImpl::IsEqual(CefRefPtr<CefValue> that) {
  if (!that) {
    return false;
  }
  ValueImpl* other = ValueOf(that.get());
  if (other == this) {
    return true;
  }
  if (other->type != type) {
    return false;
  }
  if (type == VTYPE_INVALID) {
    return true;
  }
  if (container && other->container) {
    return EqualContainer(*container, *other->container);
  }
  return simple.Equals(other->simple);
}

CefRefPtr<CefValue> ValueImpl::Copy() {
  if (type == VTYPE_INVALID) {
    return Invalid();
  }
  if (!container) {
    return new ValueImpl(simple.Clone());
  }
  // CEF quirk: a copy of a value wrapping an invalid object is INVALID.
  if (!container->Valid()) {
    return Invalid();
  }
  return new ValueImpl(
      NewOwner(container->kind, container->node->Clone(), false));
}

// The list proxy the program holds.
class ListValueImpl : public CefListValue {
 public:
  explicit ListValueImpl(std::shared_ptr<ContainerState> s)
      : state(std::move(s)) {}
  ListValueImpl(const ListValueImpl&) = delete;
  ListValueImpl& operator=(const ListValueImpl&) = delete;

  std::shared_ptr<ContainerState> state;

  // CefListValue methods:
  bool IsValid() override { return state->Valid(); }
  bool IsOwned() override { return !state->owner; }
  bool IsReadOnly() override { return state->readOnly; }
  bool IsSame(CefRefPtr<CefListValue> that) override {
    return that && SameContainer(*state, *StateOf(that.get()));
  }
  bool IsEqual(CefRefPtr<CefListValue> that) override {
    return that && EqualContainer(*state, *StateOf(that.get()));
  }
  CefRefPtr<CefListValue> Copy() override {
    if (!state->Valid()) {
      return nullptr;
    }
    return WrapList(
        NewOwner(ContainerKind::kList, state->node->Clone(), false));
  }
  bool SetSize(size_t size) override;
  size_t GetSize() override { return state->Valid() ? Items().size() : 0; }
  bool Clear() override;
  bool Remove(size_t index) override;
  CefValueType GetType(size_t index) override {
    const Node* node = At(index);
    return node ? node->type : VTYPE_INVALID;
  }
  CefRefPtr<CefValue> GetValue(size_t index) override;
  bool GetBool(size_t index) override {
    const Node* node = At(index, VTYPE_BOOL);
    return node && node->boolValue;
  }
  int GetInt(size_t index) override {
    const Node* node = At(index, VTYPE_INT);
    return node ? node->intValue : 0;
  }
  double GetDouble(size_t index) override {
    const Node* node = At(index, VTYPE_DOUBLE);
    return node ? node->doubleValue : 0.0;
  }
  CefString GetString(size_t index) override {
    const Node* node = At(index, VTYPE_STRING);
    return node ? StringOf(node->stringValue) : CefString();
  }
  CefRefPtr<CefBinaryValue> GetBinary(size_t index) override {
    Node* node = At(index, VTYPE_BINARY);
    return node ? WrapBinary(RefFor(*state, node, ContainerKind::kBinary))
                : nullptr;
  }
  CefRefPtr<CefDictionaryValue> GetDictionary(size_t index) override {
    Node* node = At(index, VTYPE_DICTIONARY);
    return node ? WrapDictionary(
                      RefFor(*state, node, ContainerKind::kDictionary))
                : nullptr;
  }
  CefRefPtr<CefListValue> GetList(size_t index) override {
    Node* node = At(index, VTYPE_LIST);
    return node ? WrapList(RefFor(*state, node, ContainerKind::kList))
                : nullptr;
  }
  bool SetValue(size_t index, CefRefPtr<CefValue> value) override;
  bool SetNull(size_t index) override { return Store(index, Node()); }
  bool SetBool(size_t index, bool value) override {
    return Store(index, MakeBool(value));
  }
  bool SetInt(size_t index, int value) override {
    return Store(index, MakeInt(value));
  }
  bool SetDouble(size_t index, double value) override {
    return Store(index, MakeDouble(value));
  }
  bool SetString(size_t index, const CefString& value) override {
    return Store(index, MakeString(value));
  }
  bool SetBinary(size_t index, CefRefPtr<CefBinaryValue> value) override {
    return value && StoreContainer(index, *StateOf(value.get()));
  }
  bool SetDictionary(size_t index,
                     CefRefPtr<CefDictionaryValue> value) override {
    return value && StoreContainer(index, *StateOf(value.get()));
  }
  bool SetList(size_t index, CefRefPtr<CefListValue> value) override {
    return value && StoreContainer(index, *StateOf(value.get()));
  }

 private:
  std::vector<Node>& Items() { return state->node->list; }

  Node* At(size_t index, CefValueType type = VTYPE_INVALID) {
    if (!state->Valid() || index >= Items().size()) {
      return nullptr;
    }
    Node* node = &Items()[index];
    // CEF quirk: getters never convert between types.
    if (type != VTYPE_INVALID && node->type != type) {
      return nullptr;
    }
    return node;
  }

  // Direct children are stored inline: growing the vector moves them.
  void Grow(size_t size) {
    if (size >= kHugeListSize) {
      Fatal(
          "a list was grown to a huge size (Set* far past the end or "
          "SetSize): CEF pads it with NULL entries and runs out of memory");
    }
    for (Node& child : Items()) {
      DetachRef(*state->tree, &child, kGrownHazard);
    }
    // CEF quirk: writing past the end pads with NULL entries.
    Items().resize(size);
  }

  Node* Slot(size_t index) {
    if (index < Items().size()) {
      // CEF quirk: replacing an entry invalidates every reference into it.
      InvalidateSubtree(*state->tree, Items()[index]);
      Items()[index] = Node();
    } else {
      Grow(index + 1);
    }
    return &Items()[index];
  }

  bool Store(size_t index, Node value) {
    if (!state->Writable()) {
      return false;
    }
    *Slot(index) = std::move(value);
    return true;
  }

  bool StoreContainer(size_t index, ContainerState& child) {
    if (!state->Writable()) {
      return false;
    }
    Node data = TakeForStore(*state, child);
    *Slot(index) = std::move(data);
    return true;
  }

  CEFSIM_PROXY_REFCOUNTING(ListValueImpl);
};

bool ListValueImpl::SetSize(size_t size) {
  if (!state->Writable()) {
    return false;
  }
  size_t current = Items().size();
  if (size == 0 && current > 0) {
    // CEF quirk: the shrink loop's unsigned index never goes below zero.
    Fatal(
        "SetSize(0) on a non-empty list: CEF's shrink loop never ends "
        "(hang); use Clear()");
  }
  if (size < current) {
    for (size_t i = current; i > size; --i) {
      InvalidateSubtree(*state->tree, Items()[i - 1]);
      Items().pop_back();
    }
  } else if (size > current) {
    Grow(size);
  }
  return true;
}

bool ListValueImpl::Clear() {
  if (!state->Writable()) {
    return false;
  }
  for (const Node& child : Items()) {
    InvalidateSubtree(*state->tree, child);
  }
  Items().clear();
  return true;
}

bool ListValueImpl::Remove(size_t index) {
  if (!state->Writable() || index >= Items().size()) {
    return false;
  }
  InvalidateSubtree(*state->tree, Items()[index]);
  // CEF quirk: later elements shift down, but references to them do not.
  for (size_t i = index + 1; i < Items().size(); ++i) {
    DetachRef(*state->tree, &Items()[i], kShiftedHazard);
  }
  Items().erase(Items().begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

CefRefPtr<CefValue> ListValueImpl::GetValue(size_t index) {
  Node* node = At(index);
  if (!node) {
    return nullptr;
  }
  if (IsComplex(node->type)) {
    return new ValueImpl(RefFor(*state, node, KindOf(node->type)));
  }
  // CEF quirk: a simple entry comes back as an independent, writable copy.
  return new ValueImpl(node->Clone());
}

// Stores `value` through `slot` as CEF's SetValue does.
template <typename SlotFn>
bool StoreValue(ContainerState& target, ValueImpl& value, SlotFn slot) {
  if (value.type == VTYPE_INVALID) {
    Fatal(
        "a CefValue of type VTYPE_INVALID (a Copy() of a value wrapping an "
        "invalid object) was stored: CEF dereferences null");
  }
  if (!value.container) {
    // CEF quirk: a simple value is copied; it stays independent.
    *slot() = value.simple.Clone();
    return true;
  }
  Node data = TakeForStore(target, *value.container);
  Node* stored = slot();
  *stored = std::move(data);
  // CEF quirk: a complex value is re-pointed at the stored entry and
  // becomes a live window into the container.
  if (stored->type == VTYPE_NULL) {
    value.SetNull();
  } else {
    value.container = RefFor(target, stored, KindOf(stored->type));
  }
  return true;
}

bool ListValueImpl::SetValue(size_t index, CefRefPtr<CefValue> value) {
  if (!value) {
    return false;
  }
  ValueImpl* impl = ValueOf(value.get());
  if (!state->Writable()) {
    return false;
  }
  return StoreValue(*state, *impl, [&] { return Slot(index); });
}

// The dictionary proxy the program holds.
class DictionaryValueImpl : public CefDictionaryValue {
 public:
  explicit DictionaryValueImpl(std::shared_ptr<ContainerState> s)
      : state(std::move(s)) {}
  DictionaryValueImpl(const DictionaryValueImpl&) = delete;
  DictionaryValueImpl& operator=(const DictionaryValueImpl&) = delete;

  std::shared_ptr<ContainerState> state;

  // CefDictionaryValue methods:
  bool IsValid() override { return state->Valid(); }
  bool IsOwned() override { return !state->owner; }
  bool IsReadOnly() override { return state->readOnly; }
  bool IsSame(CefRefPtr<CefDictionaryValue> that) override {
    return that && SameContainer(*state, *StateOf(that.get()));
  }
  bool IsEqual(CefRefPtr<CefDictionaryValue> that) override {
    return that && EqualContainer(*state, *StateOf(that.get()));
  }
  CefRefPtr<CefDictionaryValue> Copy(bool exclude_empty_children) override {
    if (!state->Valid()) {
      return nullptr;
    }
    Node copy = exclude_empty_children
                    ? state->node->CloneWithoutEmptyDictionaries()
                    : state->node->Clone();
    return WrapDictionary(
        NewOwner(ContainerKind::kDictionary, std::move(copy), false));
  }
  size_t GetSize() override { return state->Valid() ? Items().size() : 0; }
  bool Clear() override;
  bool HasKey(const CefString& key) override { return At(key) != nullptr; }
  bool GetKeys(KeyList& keys) override;
  bool Remove(const CefString& key) override;
  CefValueType GetType(const CefString& key) override {
    const Node* node = At(key);
    return node ? node->type : VTYPE_INVALID;
  }
  CefRefPtr<CefValue> GetValue(const CefString& key) override;
  bool GetBool(const CefString& key) override {
    const Node* node = At(key, VTYPE_BOOL);
    return node && node->boolValue;
  }
  int GetInt(const CefString& key) override {
    const Node* node = At(key, VTYPE_INT);
    return node ? node->intValue : 0;
  }
  double GetDouble(const CefString& key) override {
    const Node* node = At(key, VTYPE_DOUBLE);
    return node ? node->doubleValue : 0.0;
  }
  CefString GetString(const CefString& key) override {
    const Node* node = At(key, VTYPE_STRING);
    return node ? StringOf(node->stringValue) : CefString();
  }
  CefRefPtr<CefBinaryValue> GetBinary(const CefString& key) override {
    Node* node = At(key, VTYPE_BINARY);
    return node ? WrapBinary(RefFor(*state, node, ContainerKind::kBinary))
                : nullptr;
  }
  CefRefPtr<CefDictionaryValue> GetDictionary(const CefString& key) override {
    Node* node = At(key, VTYPE_DICTIONARY);
    return node ? WrapDictionary(
                      RefFor(*state, node, ContainerKind::kDictionary))
                : nullptr;
  }
  CefRefPtr<CefListValue> GetList(const CefString& key) override {
    Node* node = At(key, VTYPE_LIST);
    return node ? WrapList(RefFor(*state, node, ContainerKind::kList))
                : nullptr;
  }
  bool SetValue(const CefString& key, CefRefPtr<CefValue> value) override;
  bool SetNull(const CefString& key) override { return Store(key, Node()); }
  bool SetBool(const CefString& key, bool value) override {
    return Store(key, MakeBool(value));
  }
  bool SetInt(const CefString& key, int value) override {
    return Store(key, MakeInt(value));
  }
  bool SetDouble(const CefString& key, double value) override {
    return Store(key, MakeDouble(value));
  }
  bool SetString(const CefString& key, const CefString& value) override {
    return Store(key, MakeString(value));
  }
  bool SetBinary(const CefString& key,
                 CefRefPtr<CefBinaryValue> value) override {
    return value && StoreContainer(key, *StateOf(value.get()));
  }
  bool SetDictionary(const CefString& key,
                     CefRefPtr<CefDictionaryValue> value) override {
    return value && StoreContainer(key, *StateOf(value.get()));
  }
  bool SetList(const CefString& key, CefRefPtr<CefListValue> value) override {
    return value && StoreContainer(key, *StateOf(value.get()));
  }

 private:
  std::map<std::string, std::unique_ptr<Node>>& Items() {
    return state->node->dict;
  }

  // CEF quirk: the wrapper refuses every empty key before the lookup.
  Node* At(const CefString& key, CefValueType type = VTYPE_INVALID) {
    if (key.empty() || !state->Valid()) {
      return nullptr;
    }
    auto it = Items().find(key.ToString());
    if (it == Items().end()) {
      return nullptr;
    }
    if (type != VTYPE_INVALID && it->second->type != type) {
      return nullptr;
    }
    return it->second.get();
  }

  Node* Slot(const std::string& key) {
    auto it = Items().find(key);
    if (it != Items().end()) {
      InvalidateSubtree(*state->tree, *it->second);
      it->second = std::make_unique<Node>();
      return it->second.get();
    }
    return Items().emplace(key, std::make_unique<Node>()).first->second.get();
  }

  bool Store(const CefString& key, Node value) {
    if (key.empty() || !state->Writable()) {
      return false;
    }
    *Slot(key.ToString()) = std::move(value);
    return true;
  }

  bool StoreContainer(const CefString& key, ContainerState& child) {
    if (key.empty() || !state->Writable()) {
      return false;
    }
    Node data = TakeForStore(*state, child);
    *Slot(key.ToString()) = std::move(data);
    return true;
  }

  CEFSIM_PROXY_REFCOUNTING(DictionaryValueImpl);
};

bool DictionaryValueImpl::Clear() {
  if (!state->Writable()) {
    return false;
  }
  for (const auto& [key, child] : Items()) {
    InvalidateSubtree(*state->tree, *child);
  }
  Items().clear();
  return true;
}

// CEF quirk: keys are appended (the list is not cleared), in UTF-8 byte
// order.
bool DictionaryValueImpl::GetKeys(KeyList& keys) {
  if (!state->Valid()) {
    return false;
  }
  for (const auto& [key, child] : Items()) {
    keys.push_back(StringOf(key));
  }
  return true;
}

bool DictionaryValueImpl::Remove(const CefString& key) {
  if (key.empty() || !state->Writable()) {
    return false;
  }
  auto it = Items().find(key.ToString());
  if (it == Items().end()) {
    return false;
  }
  InvalidateSubtree(*state->tree, *it->second);
  Items().erase(it);
  return true;
}

CefRefPtr<CefValue> DictionaryValueImpl::GetValue(const CefString& key) {
  Node* node = At(key);
  if (!node) {
    return nullptr;
  }
  if (IsComplex(node->type)) {
    return new ValueImpl(RefFor(*state, node, KindOf(node->type)));
  }
  return new ValueImpl(node->Clone());
}

bool DictionaryValueImpl::SetValue(const CefString& key,
                                   CefRefPtr<CefValue> value) {
  if (!value || key.empty()) {
    return false;
  }
  ValueImpl* impl = ValueOf(value.get());
  if (!state->Writable()) {
    return false;
  }
  std::string utf8 = key.ToString();
  return StoreValue(*state, *impl, [&] { return Slot(utf8); });
}

// The binary proxy the program holds; binaries are always read-only.
class BinaryValueImpl : public CefBinaryValue {
 public:
  explicit BinaryValueImpl(std::shared_ptr<ContainerState> s)
      : state(std::move(s)) {}
  BinaryValueImpl(const BinaryValueImpl&) = delete;
  BinaryValueImpl& operator=(const BinaryValueImpl&) = delete;

  std::shared_ptr<ContainerState> state;

  // CefBinaryValue methods:
  bool IsValid() override { return state->Valid(); }
  bool IsOwned() override { return !state->owner; }
  bool IsSame(CefRefPtr<CefBinaryValue> that) override {
    return that && SameContainer(*state, *StateOf(that.get()));
  }
  bool IsEqual(CefRefPtr<CefBinaryValue> that) override {
    return that && EqualContainer(*state, *StateOf(that.get()));
  }
  CefRefPtr<CefBinaryValue> Copy() override {
    if (!state->Valid()) {
      return nullptr;
    }
    return WrapBinary(
        NewOwner(ContainerKind::kBinary, state->node->Clone(), true));
  }
  const void* GetRawData() override {
    return state->Valid() ? state->node->binary.data() : nullptr;
  }
  size_t GetSize() override {
    return state->Valid() ? state->node->binary.size() : 0;
  }
  // CEF quirk: an offset at or past the end copies nothing.
  size_t GetData(void* buffer,
                 size_t buffer_size,
                 size_t data_offset) override {
    if (!buffer || !state->Valid() || buffer_size == 0) {
      return 0;
    }
    const std::vector<uint8_t>& bytes = state->node->binary;
    if (data_offset >= bytes.size()) {
      return 0;
    }
    size_t count = std::min(buffer_size, bytes.size() - data_offset);
    std::memcpy(buffer, bytes.data() + data_offset, count);
    return count;
  }

  CEFSIM_PROXY_REFCOUNTING(BinaryValueImpl);
};

template <typename Impl, typename Interface>
std::shared_ptr<ContainerState> StateOfHandle(Interface* handle,
                                              const char* name) {
  auto* impl = dynamic_cast<Impl*>(handle);
  if (!impl) {
    Fatal(std::string("a ") + name +
          " implemented outside CEF was passed to CEF");
  }
  return impl->state;
}

}  // namespace

CefRefPtr<CefListValue> WrapList(std::shared_ptr<ContainerState> state) {
  return new ListValueImpl(std::move(state));
}

CefRefPtr<CefDictionaryValue> WrapDictionary(
    std::shared_ptr<ContainerState> state) {
  return new DictionaryValueImpl(std::move(state));
}

CefRefPtr<CefBinaryValue> WrapBinary(std::shared_ptr<ContainerState> state) {
  return new BinaryValueImpl(std::move(state));
}

std::shared_ptr<ContainerState> StateOf(CefListValue* list) {
  return StateOfHandle<ListValueImpl>(list, "CefListValue");
}

std::shared_ptr<ContainerState> StateOf(CefDictionaryValue* dictionary) {
  return StateOfHandle<DictionaryValueImpl>(dictionary, "CefDictionaryValue");
}

std::shared_ptr<ContainerState> StateOf(CefBinaryValue* binary) {
  return StateOfHandle<BinaryValueImpl>(binary, "CefBinaryValue");
}

}  // namespace cefsim

// CEF quirk: a new value is NULL, not INVALID.
CefRefPtr<CefValue> CefValue::Create() {
  return new cefsim::ValueImpl();
}

CefRefPtr<CefListValue> CefListValue::Create() {
  return cefsim::WrapList(cefsim::NewOwner(cefsim::ContainerKind::kList,
                                           cefsim::Node(VTYPE_LIST), false));
}

CefRefPtr<CefDictionaryValue> CefDictionaryValue::Create() {
  return cefsim::WrapDictionary(
      cefsim::NewOwner(cefsim::ContainerKind::kDictionary,
                       cefsim::Node(VTYPE_DICTIONARY), false));
}

// CEF quirk: empty binaries cannot exist; null data or size 0 gives null.
CefRefPtr<CefBinaryValue> CefBinaryValue::Create(const void* data,
                                                 size_t data_size) {
  if (!data || data_size == 0) {
    return nullptr;
  }
  cefsim::Node node(VTYPE_BINARY);
  const auto* bytes = static_cast<const uint8_t*>(data);
  node.binary.assign(bytes, bytes + data_size);
  return cefsim::WrapBinary(
      cefsim::NewOwner(cefsim::ContainerKind::kBinary, std::move(node), true));
}
