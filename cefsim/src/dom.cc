// CefDOMNode as handed to OnFocusedNodeChanged: valid only during the call.

#include "dom_impl.h"

#include "frame_impl.h"

namespace cefsim {
namespace {

class DOMNodeImpl : public CefDOMNode {
 public:
  DOMNodeImpl(std::shared_ptr<bool> documentAlive, std::string tagName)
      : documentAlive(std::move(documentAlive)), tagName(std::move(tagName)) {}
  DOMNodeImpl(const DOMNodeImpl&) = delete;
  DOMNodeImpl& operator=(const DOMNodeImpl&) = delete;

  // CefDOMNode methods:
  Type GetType() override {
    if (!Valid()) {
      return DOM_NODE_TYPE_UNSUPPORTED;
    }
    return DOM_NODE_TYPE_ELEMENT;
  }
  bool IsText() override { return false; }
  bool IsElement() override { return Valid(); }
  bool IsEditable() override { return IsFormControlElement(); }
  bool IsFormControlElement() override {
    return IsElement() && (tagName == "INPUT" || tagName == "TEXTAREA" ||
                           tagName == "SELECT" || tagName == "BUTTON");
  }
  FormControlType GetFormControlElementType() override {
    if (!IsFormControlElement()) {
      return DOM_FORM_CONTROL_TYPE_UNSUPPORTED;
    }
    if (tagName == "TEXTAREA") {
      return DOM_FORM_CONTROL_TYPE_TEXT_AREA;
    }
    if (tagName == "SELECT") {
      return DOM_FORM_CONTROL_TYPE_SELECT_ONE;
    }
    if (tagName == "BUTTON") {
      return DOM_FORM_CONTROL_TYPE_BUTTON_SUBMIT;
    }
    return DOM_FORM_CONTROL_TYPE_INPUT_TEXT;
  }
  bool IsSame(CefRefPtr<CefDOMNode> that) override {
    return Valid() && that.get() == this;
  }
  CefString GetName() override {
    if (!Valid()) {
      return CefString();
    }
    return CefString(tagName);
  }
  CefString GetValue() override { return CefString(); }
  bool SetValue(const CefString&) override { return false; }
  CefString GetAsMarkup() override { return CefString(); }
  CefRefPtr<CefDOMDocument> GetDocument() override { return nullptr; }
  CefRefPtr<CefDOMNode> GetParent() override { return nullptr; }
  CefRefPtr<CefDOMNode> GetPreviousSibling() override { return nullptr; }
  CefRefPtr<CefDOMNode> GetNextSibling() override { return nullptr; }
  bool HasChildren() override { return false; }
  CefRefPtr<CefDOMNode> GetFirstChild() override { return nullptr; }
  CefRefPtr<CefDOMNode> GetLastChild() override { return nullptr; }
  CefString GetElementTagName() override {
    return IsElement() ? CefString(tagName) : CefString();
  }
  bool HasElementAttributes() override { return false; }
  bool HasElementAttribute(const CefString&) override { return false; }
  CefString GetElementAttribute(const CefString&) override {
    return CefString();
  }
  void GetElementAttributes(AttributeMap&) override {}
  bool SetElementAttribute(const CefString&, const CefString&) override {
    return false;
  }
  CefString GetElementInnerText() override { return CefString(); }
  CefRect GetElementBounds() override { return CefRect(); }

 private:
  bool Valid() const { return OnRenderThread() && *documentAlive; }

  std::shared_ptr<bool> documentAlive;
  std::string tagName;

  IMPLEMENT_REFCOUNTING(DOMNodeImpl);
};

}  // namespace

CefRefPtr<CefDOMNode> NewFocusedNode(std::shared_ptr<bool> documentAlive,
                                     const std::string& tagName) {
  return new DOMNodeImpl(std::move(documentAlive), tagName);
}

}  // namespace cefsim
