#include "channels/win/channel_file_win.h"

#include "dshow/com_ptr.h"

#include <windows.h>

#include <msxml.h>
#include <oleauto.h>

namespace korvane {

namespace {

// Text of a BSTR the callee handed over; freed here.
class OwnedBstr {
  public:
    OwnedBstr() = default;
    ~OwnedBstr() { SysFreeString(s_); }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    BSTR* put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::u16string text() const {
        if (!s_)
            return {};
        return std::u16string(reinterpret_cast<const char16_t*>(s_), SysStringLen(s_));
    }

  private:
    BSTR s_ = nullptr;
};

// COM for the calling thread, released as it was taken. A thread already in another
// apartment can still use the in-process parser.
class ComScope {
  public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT hr_;
};

// Node name, text and, down to depth levels, the child nodes.
bool readNode(IXMLDOMNode* node, XmlNode& out, int depth) {
    OwnedBstr name;
    OwnedBstr text;
    if (FAILED(node->get_nodeName(name.put())))
        return false;
    out.name = name.text();
    if (SUCCEEDED(node->get_text(text.put())))
        out.text = text.text();
    if (depth == 0)
        return true;
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(node->get_childNodes(children.put())) || !children)
        return true;
    long count = 0;
    if (FAILED(children->get_length(&count)))
        return true;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        if (FAILED(children->get_item(i, child.put())) || !child)
            continue;
        XmlNode childNode;
        if (readNode(child.get(), childNode, depth - 1))
            out.children.push_back(std::move(childNode));
    }
    return true;
}

} // namespace

bool loadXmlTreeWithMsxml(const std::wstring& path, XmlNode& root) {
    ComScope com;
    ComPtr<IXMLDOMDocument> doc;
    if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IXMLDOMDocument, reinterpret_cast<void**>(doc.put()))) ||
        !doc)
        return false;
    doc->put_async(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);

    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    if (!source.bstrVal)
        return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = doc->load(source, &loaded);
    VariantClear(&source);
    if (hr != S_OK || loaded != VARIANT_TRUE)
        return false;

    ComPtr<IXMLDOMElement> element;
    if (FAILED(doc->get_documentElement(element.put())) || !element)
        return false;
    // The root's children are the records and their children the fields.
    return readNode(element.get(), root, 2);
}

} // namespace korvane
