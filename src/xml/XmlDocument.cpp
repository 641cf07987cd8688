#include "xml/XmlDocument.h"

#include <ocidl.h>
#include <msxml2.h>
#include <stdio.h>
#include <wchar.h>

#include "common/SystemString.h"

namespace {

const IID DomDocumentId = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID DomDocument2Id = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID DomNodeId = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID DomElementId = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

IXMLDOMDocument* Document(IUnknown* unknown)
{
    return static_cast<IXMLDOMDocument*>(unknown);
}

// The node interface of a node handed around as IUnknown (with a reference).
IXMLDOMNode* AsNode(XmlNode node)
{
    IXMLDOMNode* result = nullptr;
    if (node) node->QueryInterface(DomNodeId, (void**)&result);
    return result;
}

int NodeName(IXMLDOMNode* node, WideString& name)
{
    SystemString text;
    BSTR* slot = text.Receive();
    if (!slot || FAILED(node->get_nodeName(slot))) return 0;
    return name.Assign(text.Text());
}

int NodeText(IXMLDOMNode* node, WideString& value)
{
    SystemString text;
    BSTR* slot = text.Receive();
    if (!slot || FAILED(node->get_text(slot))) {
        value.Clear();
        return 0;
    }
    return value.Assign(text.Text());
}

// Cuts the first encoding declaration (encoding="..." or encoding='...') out of a text.
bool RemoveEncoding(WideString& text)
{
    int start = text.FindNoCase(L"encoding=\"");
    wchar_t quote = L'"';
    if (start < 0) {
        start = text.FindNoCase(L"encoding='");
        quote = L'\'';
    }
    if (start < 0) return false;
    int end = text.Find(quote, start + 10);
    if (end < 0) return false;
    return text.Delete(start, end - start + 1) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------

int DomBackend::Open(DWORD flags)
{
    Close();
    static const wchar_t* const Identifiers[] = {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.4.0",
                                                 L"Msxml.DOMDocument"};
    for (const wchar_t* identifier : Identifiers)
        if (SUCCEEDED(ComApartment::CreateByProgId(identifier, DomDocumentId, (void**)&m_document)) && m_document)
            break;
    if (!m_document) return 0;
    IXMLDOMDocument* document = Document(m_document);
    document->put_async(VARIANT_FALSE);
    if (flags & XmlOpenFlags::NoExternals) document->put_resolveExternals(VARIANT_FALSE);
    if (flags & XmlOpenFlags::NoValidation) document->put_validateOnParse(VARIANT_FALSE);
    if (flags & XmlOpenFlags::AllowDtd) {
        IXMLDOMDocument2* second = nullptr;
        if (SUCCEEDED(m_document->QueryInterface(DomDocument2Id, (void**)&second)) && second) {
            VARIANT no;
            VariantInit(&no);
            V_VT(&no) = VT_BOOL;
            V_BOOL(&no) = VARIANT_FALSE;
            SystemString name(L"ProhibitDTD");
            second->setProperty(name.Get(), no);
            second->Release();
        }
    }
    return 1;
}

void DomBackend::Close()
{
    if (m_document) m_document->Release();
    m_document = nullptr;
}

// A text whose characters all fit in a byte and that declares an 8-bit encoding is made of
// bytes: read as UTF-16 it would load wrongly on components that ignore the declaration.
bool DeclaresByteEncoding(const wchar_t* text, int length)
{
    for (int i = 0; i < length; i++)
        if ((unsigned)text[i] > 0xFF) return false;
    WideString head;
    head.Assign(text, length < 200 ? length : 200);
    int at = head.FindNoCase(L"encoding=");
    if (at < 0) return false;
    return head.FindNoCase(L"utf-16", at) < 0 && head.FindNoCase(L"unicode", at) < 0;
}

int DomBackend::LoadOnce(const wchar_t* text, int length)
{
    IXMLDOMDocument* document = Document(m_document);
    bool bytesFirst = DeclaresByteEncoding(text, length);
    if (bytesFirst && LoadBytes(text, length)) return 1;
    // As UTF-16 text through a stream over a copy.
    HGLOBAL memory = GlobalAlloc(GMEM_FIXED, (SIZE_T)length * sizeof(wchar_t) + 1);
    if (memory) {
        memcpy((void*)memory, text, (size_t)length * sizeof(wchar_t));
        IStream* stream = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(memory, TRUE, &stream)) && stream) {
            ULARGE_INTEGER size;
            size.QuadPart = (ULONGLONG)length * sizeof(wchar_t);
            stream->SetSize(size);
            VARIANT source;
            VariantInit(&source);
            V_VT(&source) = VT_UNKNOWN;
            V_UNKNOWN(&source) = stream;
            VARIANT_BOOL loaded = VARIANT_FALSE;
            HRESULT result = document->load(source, &loaded);
            stream->Release();
            if (SUCCEEDED(result) && loaded == VARIANT_TRUE) return 1;
        } else {
            GlobalFree(memory);
        }
    }
    return bytesFirst ? 0 : LoadBytes(text, length);
}

// As the bytes the characters stand for, in their declared encoding.
int DomBackend::LoadBytes(const wchar_t* text, int length)
{
    IXMLDOMDocument* document = Document(m_document);
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, (ULONG)length);
    if (!bytes) return 0;
    BYTE* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(bytes, (void**)&data))) {
        for (int i = 0; i < length; i++) data[i] = (BYTE)text[i];
        SafeArrayUnaccessData(bytes);
    }
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_ARRAY | VT_UI1;
    V_ARRAY(&source) = bytes;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = document->load(source, &loaded);
    SafeArrayDestroy(bytes);
    return SUCCEEDED(result) && loaded == VARIANT_TRUE;
}

int DomBackend::LoadText(const wchar_t* text)
{
    if (!m_document || !text) return 0;
    int length = (int)wcslen(text);
    if (LoadOnce(text, length)) return 1;
    if (length == 0) return 0;
    WideString changed(text);
    if (!RemoveEncoding(changed)) return 0;
    return LoadOnce(changed, changed.Length());
}

int DomBackend::LoadFile(const wchar_t* path)
{
    if (!m_document || !path) return 0;
    SystemString name(path);
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = name.Get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = Document(m_document)->load(source, &loaded);
    return SUCCEEDED(result) && loaded == VARIANT_TRUE;
}

int DomBackend::SaveFile(const wchar_t* path)
{
    if (!m_document || !path) return 0;
    SystemString name(path);
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = name.Get();
    return SUCCEEDED(Document(m_document)->save(target));
}

int DomBackend::SelectChild(const wchar_t* name, WideString& value, XmlNode& node)
{
    value.Clear();
    if (!m_document) return 0;
    if (!node) {
        IXMLDOMElement* root = nullptr;
        if (FAILED(Document(m_document)->get_documentElement(&root)) || !root) return 0;
        IXMLDOMNode* rootNode = AsNode(root);
        root->Release();
        if (!rootNode) return 0;
        node = rootNode;
        WideString rootName;
        NodeName(rootNode, rootName);
        if (!rootName.EqualsNoCase(name)) return 0;
        NodeText(rootNode, value);
        return 1;
    }
    IXMLDOMNode* current = AsNode(node);
    if (!current) return 0;
    if (wcscmp(name, L"#text") == 0) {
        NodeText(current, value);
        current->Release();
        return 1;
    }
    IXMLDOMNode* found = nullptr;
    WideString itemName;
    IXMLDOMNamedNodeMap* attributes = nullptr;
    if (SUCCEEDED(current->get_attributes(&attributes)) && attributes) {
        long count = 0;
        attributes->get_length(&count);
        for (long i = 0; i < count && !found; i++) {
            IXMLDOMNode* item = nullptr;
            if (FAILED(attributes->get_item(i, &item)) || !item) continue;
            if (NodeName(item, itemName) && itemName.EqualsNoCase(name))
                found = item;
            else
                item->Release();
        }
        attributes->Release();
    }
    if (!found) {
        IXMLDOMNodeList* children = nullptr;
        if (SUCCEEDED(current->get_childNodes(&children)) && children) {
            long count = 0;
            children->get_length(&count);
            for (long i = 0; i < count && !found; i++) {
                IXMLDOMNode* item = nullptr;
                if (FAILED(children->get_item(i, &item)) || !item) continue;
                if (NodeName(item, itemName) && itemName.EqualsNoCase(name))
                    found = item;
                else
                    item->Release();
            }
            children->Release();
        }
    }
    current->Release();
    if (!found) return 0;
    NodeText(found, value);
    node->Release();
    node = found;
    return 1;
}

int DomBackend::VisitChildren(XmlNode node, ChildVisitor visitor, void* data)
{
    IXMLDOMNode* current = AsNode(node);
    if (!current || !visitor) {
        if (current) current->Release();
        return 0;
    }
    int stopped = 0;
    WideString name, value;
    IXMLDOMNamedNodeMap* attributes = nullptr;
    if (SUCCEEDED(current->get_attributes(&attributes)) && attributes) {
        long count = 0;
        attributes->get_length(&count);
        for (long i = 0; i < count && !stopped; i++) {
            IXMLDOMNode* item = nullptr;
            if (FAILED(attributes->get_item(i, &item)) || !item) continue;
            NodeName(item, name);
            NodeText(item, value);
            stopped = visitor(1, item, name, value, data, m_owner) == 1;
            item->Release();
        }
        attributes->Release();
    }
    IXMLDOMNodeList* children = nullptr;
    if (!stopped && SUCCEEDED(current->get_childNodes(&children)) && children) {
        long count = 0;
        children->get_length(&count);
        for (long i = 0; i < count && !stopped; i++) {
            IXMLDOMNode* item = nullptr;
            if (FAILED(children->get_item(i, &item)) || !item) continue;
            NodeName(item, name);
            NodeText(item, value);
            stopped = visitor(0, item, name, value, data, m_owner) == 1;
            item->Release();
        }
        children->Release();
    }
    current->Release();
    return stopped;
}

int DomBackend::AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created)
{
    if (created) *created = nullptr;
    if (!m_document || !name) return 0;
    IXMLDOMElement* element = nullptr;
    SystemString tag(name);
    if (FAILED(Document(m_document)->createElement(tag.Get(), &element)) || !element) return 0;
    if (text) {
        SystemString content(text);
        element->put_text(content.Get());
    }
    IXMLDOMNode* parentNode = parent ? AsNode(parent) : AsNode(m_document);
    IXMLDOMNode* appended = nullptr;
    HRESULT result = parentNode ? parentNode->appendChild(element, &appended) : E_FAIL;
    if (parentNode) parentNode->Release();
    element->Release();
    if (FAILED(result) || !appended) return 0;
    if (created)
        *created = appended;
    else
        appended->Release();
    return 1;
}

int DomBackend::SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value)
{
    if (!m_document || !node || !name) return 0;
    IXMLDOMElement* element = nullptr;
    if (FAILED(node->QueryInterface(DomElementId, (void**)&element)) || !element) return 0;
    SystemString attribute(name);
    Variant content;
    V_VT(content.Receive()) = VT_BSTR;
    V_BSTR(content.Get()) = SysAllocString(value ? value : L"");
    HRESULT result = element->setAttribute(attribute.Get(), *content.Get());
    element->Release();
    return SUCCEEDED(result);
}

// ---------------------------------------------------------------------------------------

int DomBackend::Describe(XmlNode node, WideString& name, WideString& text)
{
    IXMLDOMNode* current = AsNode(node);
    if (!current) return 0;
    NodeName(current, name);
    NodeText(current, text);
    current->Release();
    return 1;
}

XmlDocument::XmlDocument() : m_current(nullptr), m_legacy(this), m_dom(this) {}

XmlDocument::~XmlDocument()
{
    Close();
}

int XmlDocument::Open(DWORD flags)
{
    Close();
    m_apartment.Initialise(ComApartment::ApartmentThreaded);
    if (!(flags & XmlOpenFlags::LegacyOnly) && m_dom.Open(flags)) {
        m_current = &m_dom;
        return 1;
    }
    if (m_legacy.Open(flags)) {
        m_current = &m_legacy;
        return 1;
    }
    m_apartment.Release();
    return 0;
}

void XmlDocument::Close()
{
    if (m_current) m_current->Close();
    m_current = nullptr;
    m_apartment.Release();
}

int XmlDocument::LoadText(const wchar_t* text)
{
    return m_current ? m_current->LoadText(text) : 0;
}

int XmlDocument::LoadFile(const wchar_t* path)
{
    return m_current ? m_current->LoadFile(path) : 0;
}

int XmlDocument::SaveFile(const wchar_t* path)
{
    return m_current ? m_current->SaveFile(path) : 0;
}

int XmlDocument::Walk(const wchar_t* path, XmlNode context, WideString& value, XmlNode& node, bool create)
{
    value.Clear();
    node = context;
    if (node) node->AddRef();
    if (!m_current || !path) return 0;
    WideString text(path), name;
    int position = 0;
    // Empty names (doubled, leading or trailing backslashes) are skipped.
    while (text.NextToken(position, L"\\", name)) {
        if (m_current->SelectChild(name, value, node)) continue;
        if (!create) return 0;
        // Missing: created under the node reached (as the root when the document is empty).
        XmlNode added = nullptr;
        if (!m_current->AddElement(node, name, nullptr, &added)) return 0;
        if (node) node->Release();
        node = added;
    }
    return 1;
}

int XmlDocument::GetValue(const wchar_t* path, WideString& value, XmlNode context)
{
    XmlNode node = nullptr;
    int found = Walk(path, context, value, node, false);
    if (node) node->Release();
    if (!found) value.Clear();
    return found;
}

unsigned XmlDocument::GetNumber(const wchar_t* path, unsigned defaultValue, XmlNode context)
{
    WideString value;
    unsigned number = 0;
    if (!GetValue(path, value, context) || swscanf(value.Text(), L"%u", &number) != 1) return defaultValue;
    return number;
}

XmlNode XmlDocument::FindOrCreate(const wchar_t* path, XmlNode context)
{
    WideString value;
    XmlNode node = nullptr;
    if (!Walk(path, context, value, node, true)) {
        if (node) node->Release();
        return nullptr;
    }
    return node;
}

int XmlDocument::ForEachChild(const wchar_t* path, ChildVisitor visitor, void* data, XmlNode context)
{
    if (!m_current) return 0;
    WideString value;
    XmlNode node = nullptr;
    WideString text(path ? path : L""), name;
    int position = 0;
    bool empty = !text.NextToken(position, L"\\", name);
    if (empty && !context) {
        // Only the root itself is visited.
        XmlNode root = nullptr;
        WideString rootName, rootValue;
        m_current->SelectChild(L"", rootValue, root);
        int stopped = 0;
        if (root) {
            if (m_current->Describe(root, rootName, rootValue))
                stopped = visitor && visitor(0, root, rootName, rootValue, data, this) == 1;
            root->Release();
        }
        return stopped;
    }
    if (!Walk(path, context, value, node, false)) {
        if (node) node->Release();
        return 0;
    }
    int stopped = m_current->VisitChildren(node, visitor, data);
    if (node) node->Release();
    return stopped;
}

int XmlDocument::AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created)
{
    return m_current ? m_current->AddElement(parent, name, text, created) : 0;
}

int XmlDocument::SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value)
{
    return m_current ? m_current->SetAttribute(node, name, value) : 0;
}
