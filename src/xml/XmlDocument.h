// An XML document read and written through backslash paths such as "update\version",
// over the system's XML components.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "common/ComApartment.h"
#include "common/WideString.h"

class XmlDocument;

// A node of the system component (reference counted; callers release what they get).
typedef IUnknown* XmlNode;

// kind 0: a child node, 1: an attribute. Answer 1 to stop the walk.
typedef int (*ChildVisitor)(int kind, XmlNode node, const wchar_t* name, const wchar_t* value, void* data,
                            XmlDocument* document);

namespace XmlOpenFlags {
const DWORD NoValidation = 0x1;
const DWORD NoExternals = 0x2;
const DWORD AllowDtd = 0x4;
const DWORD LegacyOnly = 0x80000000;  // skip the DOM document (as on systems without one)
}  // namespace XmlOpenFlags

class XmlBackend {
public:
    explicit XmlBackend(XmlDocument* owner) : m_owner(owner) {}
    virtual ~XmlBackend() {}
    virtual int Open(DWORD flags) = 0;
    virtual void Close() = 0;
    virtual int LoadText(const wchar_t* text) = 0;
    virtual int LoadFile(const wchar_t* path) = 0;
    virtual int SaveFile(const wchar_t* path) = 0;
    // One step of a path walk from `node` (null: the document); moves `node` on success.
    virtual int SelectChild(const wchar_t* name, WideString& value, XmlNode& node) = 0;
    virtual int VisitChildren(XmlNode node, ChildVisitor visitor, void* data) = 0;
    virtual int AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created) = 0;
    virtual int SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value) = 0;
    virtual int Describe(XmlNode node, WideString& name, WideString& text) = 0;

protected:
    XmlDocument* m_owner;
};

class DomBackend : public XmlBackend {
public:
    explicit DomBackend(XmlDocument* owner) : XmlBackend(owner), m_document(nullptr) {}
    ~DomBackend() override { Close(); }
    int Open(DWORD flags) override;
    void Close() override;
    int LoadText(const wchar_t* text) override;
    int LoadFile(const wchar_t* path) override;
    int SaveFile(const wchar_t* path) override;
    int SelectChild(const wchar_t* name, WideString& value, XmlNode& node) override;
    int VisitChildren(XmlNode node, ChildVisitor visitor, void* data) override;
    int AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created) override;
    int SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value) override;
    int Describe(XmlNode node, WideString& name, WideString& text) override;

private:
    int LoadOnce(const wchar_t* text, int length);
    int LoadBytes(const wchar_t* text, int length);
    IUnknown* m_document;  // IXMLDOMDocument
};

// The fallback over the system's legacy XML document object.
class LegacyXmlBackend : public XmlBackend {
public:
    explicit LegacyXmlBackend(XmlDocument* owner) : XmlBackend(owner), m_document(nullptr) {}
    ~LegacyXmlBackend() override { Close(); }
    int Open(DWORD flags) override;
    void Close() override;
    int LoadText(const wchar_t* text) override;
    int LoadFile(const wchar_t* path) override;
    int SaveFile(const wchar_t* path) override;
    int SelectChild(const wchar_t* name, WideString& value, XmlNode& node) override;
    int VisitChildren(XmlNode node, ChildVisitor visitor, void* data) override;
    int AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created) override;
    int SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value) override;
    int Describe(XmlNode node, WideString& name, WideString& text) override;

private:
    IUnknown* m_document;  // IXMLDocument
    WideString m_prolog;   // put before a new root element
};

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    int Open(DWORD flags);
    void Close();
    bool IsOpen() const { return m_current != nullptr; }
    int LoadText(const wchar_t* text);
    int LoadFile(const wchar_t* path);
    int SaveFile(const wchar_t* path);
    int GetValue(const wchar_t* path, WideString& value, XmlNode context = nullptr);
    unsigned GetNumber(const wchar_t* path, unsigned defaultValue, XmlNode context = nullptr);
    XmlNode FindOrCreate(const wchar_t* path, XmlNode context = nullptr);
    int ForEachChild(const wchar_t* path, ChildVisitor visitor, void* data, XmlNode context = nullptr);
    int AddElement(XmlNode parent, const wchar_t* name, const wchar_t* text, XmlNode* created);
    int SetAttribute(XmlNode node, const wchar_t* name, const wchar_t* value);

private:
    // Walks the path; `node` ends at the last node reached (with a reference, or null).
    int Walk(const wchar_t* path, XmlNode context, WideString& value, XmlNode& node, bool create);

    XmlBackend* m_current;
    LegacyXmlBackend m_legacy;
    DomBackend m_dom;
    ComApartment m_apartment;
};
