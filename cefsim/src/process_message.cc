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

// Mojo refuses messages nested deeper than its validation limit (200 levels,
// one or two per value level); the exact figure for values is unverified, so
// the conservative end is used.
constexpr int kMaxTransitNesting = 100;
// content's maximum Mojo message size.
constexpr size_t kMaxTransitBytes = size_t{128} << 20;

// A rough serialised size: a few header bytes per value plus its payload.
size_t WireSize(const Node& node, int depth) {
  if (depth > kMaxTransitNesting) {
    Fatal(
        "a process message nests lists or dictionaries more than 100 levels "
        "deep: CEF's channel fails validation on it, so it is never "
        "delivered and the connection is closed");
  }
  size_t size = 16 + node.stringValue.size() + node.binary.size();
  for (const Node& child : node.list) {
    size += WireSize(child, depth + 1);
  }
  for (const auto& [key, child] : node.dict) {
    size += 8 + key.size() + WireSize(*child, depth + 1);
  }
  return size;
}

// A message with an owned argument list.
class ProcessMessageImpl : public CefProcessMessage {
 public:
  ProcessMessageImpl(std::string messageName,
                     std::shared_ptr<ContainerState> argumentList)
      : name(std::move(messageName)), arguments(std::move(argumentList)) {}
  ProcessMessageImpl(const ProcessMessageImpl&) = delete;
  ProcessMessageImpl& operator=(const ProcessMessageImpl&) = delete;

  const std::string name;
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
  CefString GetName() override { return CefString(name); }
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
  size_t size = WireSize(*impl->arguments->node, 1);
  if (size > kMaxTransitBytes) {
    Fatal("a process message of about " + std::to_string(size >> 20) +
          " MiB was sent: beyond Mojo's 128 MiB message size limit; use "
          "CefSharedProcessMessageBuilder");
  }
  // CEF quirk: the list is moved out, not copied; the message and every
  // reference into it are invalid from here on, even when read-only.
  WireMessage wire;
  wire.name = impl->name;
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
      wire.name,
      NewOwner(ContainerKind::kList, wire.payload->Arguments().Clone(), true));
}

}  // namespace cefsim

// CEF quirk: the wrapper refuses an empty name with a null result.
CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const CefString& name) {
  if (name.empty()) {
    return nullptr;
  }
  return new cefsim::ProcessMessageImpl(
      name.ToString(), cefsim::NewOwner(cefsim::ContainerKind::kList,
                                        cefsim::Node(VTYPE_LIST), false));
}
