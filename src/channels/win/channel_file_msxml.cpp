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

// A parser property through the document's dispatch interface, as the properties belong
// to a later document interface. A parser that lacks one goes on without it: the checks
// after loading still refuse a doctype and a deep nesting.
void setParserProperty(IXMLDOMDocument* doc, const wchar_t* property, VARIANT value) {
    OLECHAR* name = const_cast<OLECHAR*>(L"setProperty");
    DISPID id = 0;
    if (FAILED(doc->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)))
        return;
    // Arguments go in reverse order: the value, then the property's name.
    VARIANT args[2];
    args[0] = value;
    VariantInit(&args[1]);
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocString(property);
    if (!args[1].bstrVal)
        return;
    DISPPARAMS params{args, nullptr, 2, 0};
    doc->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                nullptr);
    VariantClear(&args[1]);
}

// No document type declaration, so that no entity is ever expanded, and a nesting bound
// that keeps the parser's own recursion short (a channel file is three elements deep).
void restrictParser(IXMLDOMDocument* doc) {
    VARIANT prohibit;
    VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    setParserProperty(doc, L"ProhibitDTD", prohibit);
    VARIANT depth;
    VariantInit(&depth);
    depth.vt = VT_I4;
    depth.lVal = 64;
    setParserProperty(doc, L"MaxElementDepth", depth);
}

bool hasDoctype(IXMLDOMDocument* doc) {
    ComPtr<IXMLDOMDocumentType> doctype;
    return SUCCEEDED(doc->get_doctype(doctype.put())) && doctype;
}

enum class NodeRead { Kept, Skipped, Refused };

// Node name, text and, down to depth levels, the child nodes. An element or an entity
// reference below the last level is deeper than a channel record can be: the whole file is
// refused rather than read in part.
NodeRead readNode(IXMLDOMNode* node, XmlNode& out, int depth) {
    DOMNodeType type = NODE_INVALID;
    if (SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ENTITY_REFERENCE)
        return NodeRead::Refused;
    if (depth < 0)
        return type == NODE_ELEMENT ? NodeRead::Refused : NodeRead::Skipped;
    OwnedBstr name;
    OwnedBstr text;
    if (FAILED(node->get_nodeName(name.put())))
        return NodeRead::Skipped;
    out.name = name.text();
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(node->get_childNodes(children.put())) || !children)
        return NodeRead::Kept;
    long count = 0;
    if (FAILED(children->get_length(&count)))
        return NodeRead::Kept;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        if (FAILED(children->get_item(i, child.put())) || !child)
            continue;
        XmlNode childNode;
        const NodeRead read = readNode(child.get(), childNode, depth - 1);
        if (read == NodeRead::Refused)
            return read;
        if (read == NodeRead::Kept && depth > 0)
            out.children.push_back(std::move(childNode));
    }
    // The text last: its depth has been checked above.
    if (SUCCEEDED(node->get_text(text.put())))
        out.text = text.text();
    return NodeRead::Kept;
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
    restrictParser(doc.get());

    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    if (!source.bstrVal)
        return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = doc->load(source, &loaded);
    VariantClear(&source);
    if (hr != S_OK || loaded != VARIANT_TRUE || hasDoctype(doc.get()))
        return false;

    ComPtr<IXMLDOMElement> element;
    if (FAILED(doc->get_documentElement(element.put())) || !element)
        return false;
    // The root's children are the records and their children the fields.
    return readNode(element.get(), root, 2) == NodeRead::Kept;
}

} // namespace korvane
