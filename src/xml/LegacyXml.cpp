// The fallback backend over the system's legacy XML document object.
#include "xml/XmlDocument.h"

#include <ocidl.h>
#include <msxml2.h>
#include <string.h>

#include <string>

#include "common/SystemString.h"

namespace {

const CLSID LegacyDocumentClass = {0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID LegacyDocumentId = {0xF52E2B61, 0x18A1, 0x11D1, {0xB1, 0x05, 0x00, 0x80, 0x5F, 0x49, 0x91, 0x6B}};
const IID LegacyElementId = {0x3F7F31AC, 0xE15F, 0x11D0, {0x9C, 0x25, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID LegacyElement2Id = {0x2B8DE2FF, 0x8D2D, 0x11D1, {0xB2, 0xFC, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0xA9}};
const IID LegacyAttributeId = {0xD4D4A0FC, 0x3B73, 0x11D1, {0xB2, 0xB4, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0x96}};
const IID PersistStreamInitId = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A stream over a text: reading hands out the text from the read position on, writing
// appends; nothing else is offered.
class TextStream : public IStream {
public:
    TextStream() : m_references(1), m_position(0) {}
    explicit TextStream(const std::string& bytes) : m_references(1), m_bytes(bytes), m_position(0) {}
    virtual ~TextStream() {}
    const std::string& Bytes() const { return m_bytes; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG count = InterlockedDecrement(&m_references);
        if (count == 0) delete this;
        return (ULONG)count;
    }
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        size_t left = m_bytes.size() - m_position;
        size_t take = size < left ? size : left;
        memcpy(buffer, m_bytes.data() + m_position, take);
        m_position += take;
        if (read) *read = (ULONG)take;
        return take == size ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override
    {
        try {
            m_bytes.append((const char*)data, size);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (written) *written = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    volatile LONG m_references;
    std::string m_bytes;
    size_t m_position;
};

IXMLDocument* Document(IUnknown* unknown)
{
    return static_cast<IXMLDocument*>(unknown);
}

IXMLElement* AsElement(XmlNode node)
{
    IXMLElement* element = nullptr;
    if (node) node->QueryInterface(LegacyElementId, (void**)&element);
    return element;
}

void ElementText(IXMLElement* element, WideString& value)
{
    SystemString text;
    BSTR* slot = text.Receive();
    value.Clear();
    if (slot && SUCCEEDED(element->get_text(slot))) value.Assign(text.Text());
}

void ElementName(IXMLElement* element, WideString& name)
{
    SystemString text;
    BSTR* slot = text.Receive();
    name.Clear();
    if (slot && SUCCEEDED(element->get_tagName(slot))) name.Assign(text.Text());
}

// Calls `visit` for each attribute (kind 1) and child element (kind 0); stops at true.
template <class Visit>
bool EachItem(IXMLElement* element, Visit visit)
{
    IXMLElement2* second = nullptr;
    if (SUCCEEDED(element->QueryInterface(LegacyElement2Id, (void**)&second)) && second) {
        IXMLElementCollection* attributes = nullptr;
        if (SUCCEEDED(second->get_attributes(&attributes)) && attributes) {
            long count = 0;
            attributes->get_length(&count);
            for (long i = 0; i < count; i++) {
                VARIANT index, empty;
                VariantInit(&index);
                VariantInit(&empty);
                V_VT(&index) = VT_I4;
                V_I4(&index) = i;
                IDispatch* item = nullptr;
                if (FAILED(attributes->item(index, empty, &item)) || !item) continue;
                IXMLAttribute* attribute = nullptr;
                bool stop = false;
                if (SUCCEEDED(item->QueryInterface(LegacyAttributeId, (void**)&attribute)) && attribute) {
                    SystemString name, value;
                    BSTR* nameSlot = name.Receive();
                    BSTR* valueSlot = value.Receive();
                    if (nameSlot && valueSlot) {
                        attribute->get_name(nameSlot);
                        attribute->get_value(valueSlot);
                        stop = visit(1, (IUnknown*)attribute, name.Text(), value.Text());
                    }
                    attribute->Release();
                }
                item->Release();
                if (stop) {
                    attributes->Release();
                    second->Release();
                    return true;
                }
            }
            attributes->Release();
        }
        second->Release();
    }
    IXMLElementCollection* children = nullptr;
    if (FAILED(element->get_children(&children)) || !children) return false;
    long count = 0;
    children->get_length(&count);
    for (long i = 0; i < count; i++) {
        VARIANT index, empty;
        VariantInit(&index);
        VariantInit(&empty);
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        IDispatch* item = nullptr;
        if (FAILED(children->item(index, empty, &item)) || !item) continue;
        IXMLElement* child = AsElement(item);
        item->Release();
        if (!child) continue;
        long type = 0;
        child->get_type(&type);
        bool stop = false;
        if (type == XMLELEMTYPE_ELEMENT) {
            WideString name, value;
            ElementName(child, name);
            ElementText(child, value);
            stop = visit(0, (IUnknown*)child, name.Text(), value.Text());
        }
        child->Release();
        if (stop) {
            children->Release();
            return true;
        }
    }
    children->Release();
    return false;
}

}  // namespace

int LegacyXmlBackend::Open(DWORD)
{
    Close();
    m_prolog.Clear();
    return SUCCEEDED(CoCreateInstance(LegacyDocumentClass, nullptr, CLSCTX_ALL, LegacyDocumentId, (void**)&m_document)) &&
           m_document;
}

void LegacyXmlBackend::Close()
{
    if (m_document) m_document->Release();
    m_document = nullptr;
}

int LegacyXmlBackend::LoadText(const wchar_t* text)
{
    if (!m_document || !text) return 0;
    // UTF-16 with its byte-order mark, so that the parser knows the encoding.
    std::string bytes("\xFF\xFE", 2);
    bytes.append((const char*)text, wcslen(text) * sizeof(wchar_t));
    IPersistStreamInit* persist = nullptr;
    if (FAILED(m_document->QueryInterface(PersistStreamInitId, (void**)&persist)) || !persist) return 0;
    TextStream* stream = new TextStream(bytes);
    HRESULT result = persist->Load(stream);
    stream->Release();
    persist->Release();
    return SUCCEEDED(result);
}

int LegacyXmlBackend::LoadFile(const wchar_t* path)
{
    if (!m_document || !path) return 0;
    SystemString url(path);
    return SUCCEEDED(Document(m_document)->put_URL(url.Get()));
}

int LegacyXmlBackend::SaveFile(const wchar_t* path)
{
    if (!m_document || !path) return 0;
    IPersistStreamInit* persist = nullptr;
    if (FAILED(m_document->QueryInterface(PersistStreamInitId, (void**)&persist)) || !persist) return 0;
    TextStream* stream = new TextStream();
    HRESULT result = persist->Save(stream, TRUE);
    persist->Release();
    std::string bytes = stream->Bytes();
    stream->Release();
    if (FAILED(result)) return 0;
    // The component writes UTF-16 (with or without a mark) or 8-bit text; the file gets ANSI.
    std::string out = bytes;
    bool wide = bytes.size() >= 2 && ((unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE);
    if (!wide && bytes.size() >= 2 && bytes[1] == 0 && bytes[0] != 0) wide = true;
    if (wide) {
        size_t skip = (unsigned char)bytes[0] == 0xFF ? 2 : 0;
        WideString text;
        text.Assign((const wchar_t*)(bytes.data() + skip), (int)((bytes.size() - skip) / 2));
        out = text.ToAnsi();
    }
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, out.data(), (DWORD)out.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == out.size();
}

int LegacyXmlBackend::SelectChild(const wchar_t* name, WideString& value, XmlNode& node)
{
    value.Clear();
    if (!m_document) return 0;
    if (!node) {
        IXMLElement* root = nullptr;
        if (FAILED(Document(m_document)->get_root(&root)) || !root) return 0;
        node = root;
        WideString rootName;
        ElementName(root, rootName);
        if (!rootName.EqualsNoCase(name)) return 0;
        ElementText(root, value);
        return 1;
    }
    IXMLElement* element = AsElement(node);
    if (!element) return 0;
    // An attribute of that name first; asking for it by name also works where the
    // component cannot list an element's attributes.
    SystemString attribute(name);
    VARIANT attributeValue;
    VariantInit(&attributeValue);
    if (element->getAttribute(attribute.Get(), &attributeValue) == S_OK && V_VT(&attributeValue) == VT_BSTR) {
        value.Assign(V_BSTR(&attributeValue));
        VariantClear(&attributeValue);
        element->Release();
        return 1;
    }
    VariantClear(&attributeValue);
    XmlNode found = nullptr;
    EachItem(element, [&](int, IUnknown* item, const wchar_t* itemName, const wchar_t* itemValue) {
        if (_wcsicmp(itemName, name) != 0) return false;
        found = item;
        found->AddRef();
        value.Assign(itemValue);
        return true;
    });
    element->Release();
    if (!found) return 0;
    node->Release();
    node = found;
    return 1;
}

int LegacyXmlBackend::VisitChildren(XmlNode node, ChildVisitor visitor, void* data)
{
    IXMLElement* element = AsElement(node);
    if (!element || !visitor) {
        if (element) element->Release();
        return 0;
    }
    bool stopped = EachItem(element, [&](int kind, IUnknown* item, const wchar_t* name, const wchar_t* value) {
        return visitor(kind, item, name, value, data, m_owner) == 1;
    });
    element->Release();
    return stopped ? 1 : 0;
}

int LegacyXmlBackend::AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created)
{
    if (created) *created = nullptr;
    if (!m_document || !name) return 0;
    IXMLElement* element = nullptr;
    if (parent) {
        IXMLElement* parentElement = AsElement(parent);
        if (!parentElement) return 0;
        VARIANT type, empty;
        VariantInit(&type);
        VariantInit(&empty);
        V_VT(&type) = VT_I4;
        V_I4(&type) = XMLELEMTYPE_ELEMENT;
        HRESULT result = Document(m_document)->createElement(type, empty, &element);
        if (SUCCEEDED(result) && element) {
            // A component that cannot name the new element fails the call: a nameless
            // element would never be found again.
            SystemString tag(name);
            result = element->put_tagName(tag.Get());
            if (SUCCEEDED(result)) result = parentElement->addChild(element, -1, -1);
        }
        parentElement->Release();
        if (FAILED(result) || !element) {
            if (element) element->Release();
            return 0;
        }
    } else {
        WideString markup;
        markup.Format(L"%s<%s></%s>", m_prolog.Text(), name, name);
        if (!LoadText(markup) || FAILED(Document(m_document)->get_root(&element)) || !element) return 0;
    }
    if (text) {
        IXMLElement* content = nullptr;
        VARIANT type, empty;
        VariantInit(&type);
        VariantInit(&empty);
        V_VT(&type) = VT_I4;
        V_I4(&type) = XMLELEMTYPE_TEXT;
        if (SUCCEEDED(Document(m_document)->createElement(type, empty, &content)) && content) {
            SystemString value(text);
            content->put_text(value.Get());
            element->addChild(content, -1, -1);
            content->Release();
        }
    }
    if (created)
        *created = element;
    else
        element->Release();
    return 1;
}

int LegacyXmlBackend::SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value)
{
    IXMLElement* element = AsElement(node);
    if (!element || !name) {
        if (element) element->Release();
        return 0;
    }
    SystemString attribute(name);
    Variant content;
    V_VT(content.Receive()) = VT_BSTR;
    V_BSTR(content.Get()) = SysAllocString(value ? value : L"");
    HRESULT result = element->setAttribute(attribute.Get(), *content.Get());
    element->Release();
    return SUCCEEDED(result);
}

int LegacyXmlBackend::Describe(XmlNode node, WideString& name, WideString& text)
{
    IXMLElement* element = AsElement(node);
    if (!element) return 0;
    ElementName(element, name);
    ElementText(element, text);
    element->Release();
    return 1;
}
