#include "crash/ProblemReport.h"

#include <commctrl.h>
#include <string.h>

#include "common/ModuleVersion.h"
#include "net/HttpClient.h"
#include "platform/SystemApi.h"
#include "sysinfo/MachineIdentity.h"
#include "ui/Hyperlink.h"
#include "ui/Theme.h"

namespace {

const int DescriptionRoom = 2048;
const int EmailRoom = 260;
const COLORREF TitleColour = RGB(9, 55, 117);
const COLORREF CaptionColour = RGB(96, 96, 96);
const UINT SetCueBanner = 0x1501;

class TemplateWriter {
public:
    explicit TemplateWriter(std::vector<BYTE>& bytes) : m_bytes(bytes) { m_bytes.clear(); }
    void Word(WORD value) { Raw(&value, 2); }
    void Dword(DWORD value) { Raw(&value, 4); }
    void Text(const wchar_t* text)
    {
        Raw(text, (wcslen(text) + 1) * sizeof(wchar_t));
    }
    void Align()
    {
        while (m_bytes.size() % 4) m_bytes.push_back(0);
    }
    void Control(short id, WORD classAtom, const wchar_t* text, short x, short y, short cx, short cy, DWORD style)
    {
        Align();
        Dword(WS_CHILD | WS_VISIBLE | style);
        Dword(0);
        Word((WORD)x);
        Word((WORD)y);
        Word((WORD)cx);
        Word((WORD)cy);
        Word((WORD)id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }

private:
    void Raw(const void* data, size_t size)
    {
        const BYTE* bytes = (const BYTE*)data;
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    }
    std::vector<BYTE>& m_bytes;
};

const WORD ButtonAtom = 0x0080, EditAtom = 0x0081, StaticAtom = 0x0082;

const wchar_t* FileNameOf(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; c++)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    return name;
}

void RemoveAll(WideString& text, const wchar_t* what)
{
    int length = (int)wcslen(what);
    for (;;) {
        const wchar_t* found = wcsstr(text.Text(), what);
        if (!found) return;
        text.Delete((int)(found - text.Text()), length);
    }
}

HICON LoadProgramIcon(int iconId, int metric, int cx, int cy)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    SystemApi api;
    HICON icon = nullptr;
    if (FAILED(api.LoadIconMetric(instance, MAKEINTRESOURCEW(iconId), metric, &icon))) icon = nullptr;
    if (!icon)
        icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(cx),
                                 GetSystemMetrics(cy), LR_DEFAULTCOLOR);
    return icon;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    ProblemReportInfo* info = (ProblemReportInfo*)GetWindowLongPtrW(dialog, GWLP_USERDATA);
    switch (message) {
    case WM_INITDIALOG: {
        info = (ProblemReportInfo*)lParam;
        SetWindowLongPtrW(dialog, GWLP_USERDATA, (LONG_PTR)info);
        WideString shown(info->website);
        RemoveAll(shown, L"http://");
        SetWindowTextW(dialog, info->productName);
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, (LPARAM)LoadProgramIcon(info->iconId, 0, SM_CXSMICON, SM_CYSMICON));
        SendMessageW(dialog, WM_SETICON, ICON_BIG, (LPARAM)LoadProgramIcon(info->iconId, 1, SM_CXICON, SM_CYICON));
        SendDlgItemMessageW(dialog, 1003, STM_SETIMAGE, IMAGE_ICON,
                            (LPARAM)LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(info->iconId)));

        WideString title;
        title.Format(L"%s has stopped working.", info->productName.Text());
        SetDlgItemTextW(dialog, 1006, title);
        info->title.Attach(GetDlgItem(dialog, 1006), nullptr, 40, TitleColour, TitleColour, 0x04000080, 0, nullptr, 0);

        WideString text;
        PleaseTellText(info->companyName, info->website, true, text);
        if (info->pleaseTell.Create(dialog, 40, 35, 370, 26, text, LinkTextFlags::DialogUnits |
                                                                    LinkTextFlags::ParentNotWatched,
                                    nullptr, 0)) {
            ShowWindow(GetDlgItem(dialog, 1010), SW_HIDE);
        } else {
            PleaseTellText(info->companyName, info->website, false, text);
            SetDlgItemTextW(dialog, 1010, text);
        }

        SetDlgItemTextW(dialog, 1011, L"Can you please describe what you were doing when the problem occurred?");
        SetDlgItemTextW(dialog, 1012,
                        L"Your E-mail address. It will be kept private. Only used to contact you for more details.");
        info->descriptionLabel.Attach(GetDlgItem(dialog, 1011), L"", 0, CaptionColour, CaptionColour,
                                      StyledFlags::ControlFont, 0, nullptr, 0);
        info->emailLabel.Attach(GetDlgItem(dialog, 1012), L"", 0, CaptionColour, CaptionColour,
                                StyledFlags::ControlFont, 0, nullptr, 0);

        SendDlgItemMessageW(dialog, 1004, EM_LIMITTEXT, DescriptionRoom - 1, 0);
        SendDlgItemMessageW(dialog, 1005, EM_LIMITTEXT, EmailRoom - 1, 0);
        SendDlgItemMessageW(dialog, 1004, SetCueBanner, 0, (LPARAM)L" optional");
        SendDlgItemMessageW(dialog, 1005, SetCueBanner, 0, (LPARAM)L" optional");

        FilesText(info->textPath, info->dumpPath, true, text);
        if (info->files.Create(dialog, 40, 144, 370, 18, text,
                               LinkTextFlags::DialogUnits | LinkTextFlags::ParentNotWatched, nullptr, 0)) {
            ShowWindow(GetDlgItem(dialog, 1008), SW_HIDE);
        } else {
            FilesText(info->textPath, info->dumpPath, false, text);
            SetDlgItemTextW(dialog, 1008, text);
        }
        info->divider.Attach(GetDlgItem(dialog, 1013));
        return TRUE;
    }
    case WM_COMMAND:
        if (!info) return FALSE;
        if (LOWORD(wParam) == 1000) {
            wchar_t* description = info->description.Buffer(DescriptionRoom);
            if (description) {
                GetDlgItemTextW(dialog, 1004, description, DescriptionRoom);
                info->description.SyncLength();
            }
            wchar_t* email = info->email.Buffer(EmailRoom);
            if (email) {
                GetDlgItemTextW(dialog, 1005, email, EmailRoom);
                info->email.SyncLength();
            }
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == 1001 || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY:
        if (!info) return FALSE;
        info->pleaseTell.Notify(dialog, wParam, lParam);
        info->files.Notify(dialog, wParam, lParam);
        return FALSE;
    case WM_CTLCOLORSTATIC: {
        if (!info) return FALSE;
        HWND control = (HWND)lParam;
        if (control == info->files.Window() || control == GetDlgItem(dialog, 1008))
            SetTextColor((HDC)wParam, CaptionColour);
        SetBkMode((HDC)wParam, TRANSPARENT);
        return (INT_PTR)info->background;
    }
    case WM_DESTROY:
        if (!info) return FALSE;
        info->title.Detach();
        info->descriptionLabel.Detach();
        info->emailLabel.Detach();
        info->pleaseTell.Destroy();
        info->files.Destroy();
        info->divider.Detach();
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void ProblemReportTemplate(std::vector<BYTE>& bytes)
{
    TemplateWriter writer(bytes);
    writer.Dword(0x80C808C0);
    writer.Dword(0);
    writer.Word(12);
    writer.Word(0);
    writer.Word(0);
    writer.Word(428);
    writer.Word(201);
    writer.Word(0);  // no menu
    writer.Word(0);  // the dialog class
    writer.Text(L"Dialog");
    writer.Word(8);
    writer.Text(L"MS Sans Serif");
    writer.Control(-1, StaticAtom, L"", 0, 0, 429, 167, SS_WHITERECT);
    writer.Control(1000, ButtonAtom, L"Send Problem Report", 241, 177, 100, 14, BS_DEFPUSHBUTTON | WS_TABSTOP);
    writer.Control(1001, ButtonAtom, L"Don't Send", 351, 177, 60, 14, WS_TABSTOP);
    writer.Control(1004, EditAtom, L"", 40, 86, 370, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL);
    writer.Control(1005, EditAtom, L"", 40, 119, 370, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL);
    writer.Control(1008, StaticAtom, L"Static", 40, 144, 370, 18, WS_GROUP);
    writer.Control(1010, StaticAtom, L"Static", 40, 35, 370, 26, WS_GROUP);
    writer.Control(1003, StaticAtom, L"", 10, 10, 20, 20, SS_ICON);
    writer.Control(1006, StaticAtom, L"Static", 40, 12, 370, 14, WS_GROUP | SS_CENTERIMAGE);
    writer.Control(1011, StaticAtom, L"Static", 40, 74, 370, 8, WS_GROUP);
    writer.Control(1012, StaticAtom, L"Static", 40, 107, 370, 8, WS_GROUP);
    writer.Control(1013, StaticAtom, L"", 0, 166, 429, 1, SS_ETCHEDHORZ);
}

void WebsiteAddress(const wchar_t* comments, const wchar_t* specialBuild, WideString& address)
{
    address.Clear();
    const wchar_t* sources[] = {comments, specialBuild};
    for (const wchar_t* source : sources) {
        if (!source) continue;
        for (const wchar_t* c = source; *c; c++) {
            if (_wcsnicmp(c, L"http://", 7) != 0) continue;
            address = c;
            if (const wchar_t* bracket = wcschr(address.Text(), L']')) address.Truncate((int)(bracket - address.Text()));
            if (address.EndsWith(L'/')) address.RemoveTrailing();
            return;
        }
    }
}

void PleaseTellText(const wchar_t* company, const wchar_t* address, bool links, WideString& text)
{
    WideString shown(address ? address : L"");
    RemoveAll(shown, L"http://");
    if (address && address[0]) {
        if (links)
            text.Format(L"Please tell %s about this problem.\n\nYou can check the website <a href=\"%s\">%s</a> for a "
                        L"newer version.",
                        company, address, shown.Text());
        else
            text.Format(L"Please tell %s about this problem.\n\nYou can check the website '%s' for a newer version.",
                        company, shown.Text());
    } else {
        text.Format(L"Please tell %s about this problem.", company);
    }
}

void FilesText(const wchar_t* textPath, const wchar_t* dumpPath, bool links, WideString& text)
{
    bool dump = dumpPath && dumpPath[0];
    if (!textPath || !textPath[0]) {
        // No text file could be made: the sentence names the dump alone, or is left out;
        // it never shows a link to nothing.
        text.Clear();
        if (!dump) return;
        textPath = dumpPath;
        dump = false;
    }
    const wchar_t* textName = FileNameOf(textPath);
    const wchar_t* dumpName = FileNameOf(dump ? dumpPath : L"");
    if (links) {
        if (dump)
            text.Format(L"The files <a href=\"%s\">%s</a> and <a href=\"%s\">%s</a> will be send. They do not contain "
                        L"any personal information.",
                        textPath, textName, dumpPath, dumpName);
        else
            text.Format(L"The file <a href=\"%s\">%s</a> will be send. It does not contain any personal information.",
                        textPath, textName);
    } else {
        if (dump)
            text.Format(L"The files %s and %s will be send. They do not contain any personal information.", textName,
                        dumpName);
        else
            text.Format(L"The file %s will be send. It does not contain any personal information.", textName);
    }
}

int ProblemReportDialog(int iconId, const wchar_t* dumpPath, const wchar_t* textPath, WideString& email,
                        WideString& description)
{
    ProblemReportInfo info;
    info.iconId = iconId;
    info.dumpPath = dumpPath ? dumpPath : L"";
    info.textPath = textPath ? textPath : L"";
    info.background = CreateSolidBrush(RGB(255, 255, 255));
    ModuleVersion module;
    module.Load();
    module.GetString(L"ProductName", info.productName);
    module.GetString(L"CompanyName", info.companyName);
    if (info.companyName.IsEmpty()) info.companyName = L"us";
    WideString comments, specialBuild;
    module.GetString(L"Comments", comments);
    module.GetString(L"SpecialBuild", specialBuild);
    WebsiteAddress(comments, specialBuild, info.website);

    std::vector<BYTE> bytes, rewritten;
    ProblemReportTemplate(bytes);
    bytes.resize(520, 0);
    const std::vector<BYTE>& used = DialogFontFixTemplate(bytes.data(), bytes.size(), 1, rewritten) ? rewritten : bytes;
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), (LPCDLGTEMPLATEW)used.data(), nullptr,
                                             DialogProc, (LPARAM)&info);
    if (info.background) DeleteObject(info.background);
    if (result != 1) return 0;
    email = info.email;
    description = info.description;
    return 1;
}

int SendProblemReport(const ReportSettings& settings, const wchar_t* dumpPath, const wchar_t* textPath)
{
    if (!settings.host || !settings.host[0]) return 1;
    WideString email, description;
    if (!ProblemReportDialog(settings.iconId, dumpPath, textPath, email, description)) return 0;

    ModuleVersion module;
    module.Load();
    WideString version;
    if (!module.GetString(L"FileVersion", version)) version.Format(L"%u.%u", module.Major(), module.Minor());
    WideString identity;
    MachineIdentity(identity, IdentityPurpose::ProblemReport);

    HttpClient http;
    const wchar_t* fields[][2] = {{L"a", L"r"},
                                  {L"p", settings.productId},
                                  {L"s", settings.extraValue},
                                  {L"v", version},
                                  {L"g", identity},
                                  {L"e", email},
                                  {L"x", description}};
    for (const auto& field : fields)
        if (!http.AddFormField(field[0], field[1] ? field[1] : L"")) return 0;
    http.AddFormFile(L"d", dumpPath ? dumpPath : L"");
    http.AddFormFile(L"t", textPath ? textPath : L"");
    WideString answer;
    http.PostForm(settings.host, settings.path ? settings.path : L"", L"", &answer, nullptr, 0, nullptr, nullptr, nullptr,
                  nullptr, INTERNET_DEFAULT_HTTP_PORT, INTERNET_SERVICE_HTTP);
    return 0;
}
