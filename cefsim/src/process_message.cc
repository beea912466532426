#include "include/cef_process_message.h"

#include <string>

#include "cefsim/fatal.h"
#include "cefsim/transit.h"
#include "values_internal.h"

namespace cefsim {

// The serialised argument list of a message in flight.
class WirePayload {
 public:
  explicit WirePayload(std::unique_ptr<Node> root)
      : arguments(std::move(root)) {}
  const Node& Arguments() const { return *arguments; }

 private:
  std::unique_ptr<Node> arguments;
};

namespace {

// Mojo's validation depth limit; only structs count, and every list and
// dictionary is one, the argument list itself the first.
constexpr int kMaxTransitNesting = 200;
// content's maximum Mojo message size, in encoded bytes.
constexpr size_t kMaxTransitBytes = kMaxMessageBytesOnChannel;
// Mojo's message header (version 2) and the SendMessage parameter struct
// (header, name pointer, arguments pointer); the name's array comes on top.
constexpr size_t kMessageHeaderBytes = 48;
constexpr size_t kParameterStructBytes = 24;

size_t PadTo8(size_t bytes) {
  return (bytes + 7) / 8 * 8;
}

// A mojo array of `count` elements of `elementBytes`: 8-byte header, the
// elements, padded to 8.
size_t MojoArray(size_t count, size_t elementBytes) {
  return 8 + PadTo8(count * elementBytes);
}

void CheckLevel(int level) {
  if (level > kMaxTransitNesting) {
    Fatal(
        "a process message nests lists or dictionaries more than 200 levels "
        "deep (the argument list is the first): Mojo fails validation on it, "
        "so it is never delivered and the connection is closed");
  }
}

// What a base.mojom.Value adds outside the 16-byte union its parent's
// array holds. `level` is the struct nesting of the container it sits in.
size_t OutOfLineBytes(const Node& node, int level);

// A ListValue struct (header and array pointer) and its array of unions.
size_t ListBytes(const Node& list, int level) {
  CheckLevel(level);
  size_t bytes = 16 + MojoArray(list.list.size(), 16);
  for (const Node& child : list.list) {
    bytes += OutOfLineBytes(child, level);
  }
  return bytes;
}

// A DictionaryValue struct, its map struct (header and two array
// pointers), the array of key pointers with each key's string, and the
// array of value unions.
size_t DictionaryBytes(const Node& dictionary, int level) {
  CheckLevel(level);
  const size_t count = dictionary.dict.size();
  size_t bytes = 16 + 24 + MojoArray(count, 8) + MojoArray(count, 16);
  for (const auto& [key, child] : dictionary.dict) {
    bytes += MojoArray(key.size(), 1) + OutOfLineBytes(*child, level);
  }
  return bytes;
}

size_t OutOfLineBytes(const Node& node, int level) {
  switch (node.type) {
    case VTYPE_STRING:
      return MojoArray(node.stringValue.size(), 1);
    case VTYPE_BINARY:
      return MojoArray(node.binary.size(), 1);
    case VTYPE_LIST:
      return ListBytes(node, level + 1);
    case VTYPE_DICTIONARY:
      return DictionaryBytes(node, level + 1);
    default:
      return 0;
  }
}

// The encoded message: header, parameters, the name as UTF-8 and the
// argument list with everything in it.
size_t EncodedBytes(const std::string& utf8Name, const Node& arguments) {
  return kMessageHeaderBytes + kParameterStructBytes +
         MojoArray(utf8Name.size(), 1) + ListBytes(arguments, 1);
}

// A message with an owned argument list.
class ProcessMessageImpl : public CefProcessMessage {
 public:
  ProcessMessageImpl(CefString messageName,
                     std::shared_ptr<ContainerState> argumentList)
      : name(std::move(messageName)), arguments(std::move(argumentList)) {}
  ProcessMessageImpl(const ProcessMessageImpl&) = delete;
  ProcessMessageImpl& operator=(const ProcessMessageImpl&) = delete;

  // CEF quirk: the name stays UTF-16 until sent; lone surrogates become
  // U+FFFD only in the UTF-8 the channel carries.
  const CefString name;
  const std::shared_ptr<ContainerState> arguments;

  // CefProcessMessage methods:
  bool IsValid() override { return arguments->Valid(); }
  // CEF quirk: still false after sending; true for received messages.
  bool IsReadOnly() override { return arguments->readOnly; }
  CefRefPtr<CefProcessMessage> Copy() override {
    if (!arguments->Valid()) {
      return nullptr;
    }
    return new ProcessMessageImpl(
        name, NewOwner(ContainerKind::kList, arguments->node->Clone(), false));
  }
  CefString GetName() override { return name; }
  // CEF quirk: always the same list (in a new proxy), live and owned; after
  // sending still non-null but invalid.
  CefRefPtr<CefListValue> GetArgumentList() override {
    return WrapList(arguments);
  }
  CefRefPtr<CefSharedMemoryRegion> GetSharedMemoryRegion() override {
    return nullptr;
  }

  IMPLEMENT_REFCOUNTING(ProcessMessageImpl);
};

}  // namespace

size_t EncodedMessageBytes(CefRefPtr<CefProcessMessage> message) {
  auto* impl = dynamic_cast<ProcessMessageImpl*>(message.get());
  if (!impl || !impl->arguments->Valid()) {
    Fatal("cefsim::EncodedMessageBytes needs a valid message made by CEF");
  }
  return EncodedBytes(impl->name.ToString(), *impl->arguments->node);
}

std::optional<WireMessage> TakeForSending(
    CefRefPtr<CefProcessMessage> message) {
  if (!message) {
    return std::nullopt;
  }
  auto* impl = dynamic_cast<ProcessMessageImpl*>(message.get());
  if (!impl) {
    Fatal("a CefProcessMessage implemented outside CEF was sent");
  }
  // CEF quirk: re-sending an invalid message is a silent no-op.
  if (!impl->arguments->Valid()) {
    return std::nullopt;
  }
  WireMessage wire;
  wire.name = impl->name.ToString();
  // Checked before the list is taken: the crash (or the lost renderer)
  // follows the send either way.
  const size_t size = EncodedBytes(wire.name, *impl->arguments->node);
  if (size > kMaxTransitBytes) {
    Fatal("a process message of " + std::to_string(size) +
          " bytes in Mojo's encoding was sent: beyond content's limit of " +
          std::to_string(kMaxTransitBytes) +
          " bytes, so the channel refuses it and the renderer is lost; use "
          "CefSharedProcessMessageBuilder");
  }
  // CEF quirk: the list is moved out, not copied; the message and every
  // reference into it are invalid from here on, even when read-only.
  wire.payload =
      std::make_shared<const WirePayload>(TakeOwnerData(*impl->arguments));
  return wire;
}

// CEF quirk: the receiver gets a new, owned, read-only list that shares
// nothing with the sender's.
CefRefPtr<CefProcessMessage> Receive(const WireMessage& wire) {
  if (!wire.payload) {
    Fatal("cefsim::Receive called with an empty WireMessage");
  }
  return new ProcessMessageImpl(
      CefString(wire.name),
      NewOwner(ContainerKind::kList, wire.payload->Arguments().Clone(), true));
}

}  // namespace cefsim

// CEF quirk: the wrapper refuses an empty name with a null result.
CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const CefString& name) {
  if (name.empty()) {
    return nullptr;
  }
  return new cefsim::ProcessMessageImpl(
      name, cefsim::NewOwner(cefsim::ContainerKind::kList,
                             cefsim::Node(VTYPE_LIST), false));
}
