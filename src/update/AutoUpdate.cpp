#include "update/AutoUpdate.h"

#include <shlobj.h>
#include <time.h>

#include <new>

#include "common/Timing.h"
#include "platform/ShellFolders.h"
#include "sysinfo/MachineIdentity.h"
#include "ui/Hyperlink.h"

namespace {

// How long the end of the program waits for a check that no longer answers: enough to
// finish moving files, far below any network time-out.
const DWORD ShutdownWait = 5000;
const DWORD ShutdownPoll = 200;
// No honest answer comes near this: a longer one is refused whole, so that no sender can
// make the check hold an answer of any size (nor parse a truncated one).
const DWORD AnswerByteLimit = 1024 * 1024;

struct EntryCollector {
    std::vector<UpdateFileEntry>* entries;
};

int CollectEntry(int kind, XmlNode node, const wchar_t* name, const wchar_t* value, void* data,
                 XmlDocument* document)
{
    if (kind != 0 || !name || _wcsicmp(name, L"url") != 0) return 0;
    EntryCollector* collector = static_cast<EntryCollector*>(data);
    UpdateFileEntry entry;
    entry.address = value ? value : L"";
    entry.hasName = document->GetValue(L"name", entry.name, node) != 0;
    entry.hasZip = document->GetValue(L"zip", entry.zip, node) != 0;
    collector->entries->push_back(entry);
    return 0;
}

}  // namespace

AutoUpdate::AutoUpdate()
    : m_owner(nullptr), m_updateMessage(0), m_hook(SubclassTag::AutoUpdate), m_stepResult(0), m_questionShowing(0),
      m_options(0), m_phase(PhaseWaiting), m_ending(0)
{
}

AutoUpdate::~AutoUpdate()
{
    Shutdown();
}

void AutoUpdate::Start(const wchar_t* queryAddress, HWND owner, HKEY root, const wchar_t* keyPath,
                       const wchar_t* valueName, DWORD options, const wchar_t* itemName, const wchar_t* itemType)
{
    if (m_worker.Running() || Ending()) return;
    Stop();
    m_questionShowing = 0;
    m_queryAddress = queryAddress ? queryAddress : L"";
    m_owner = owner;
    m_valueName = valueName ? valueName : L"";
    m_options = options;
    m_itemName = itemName ? itemName : L"";
    m_itemType = itemType ? itemType : L"";
    m_store.Open((options & UpdateOptions::IniStore) ? SettingsBackend::Ini : SettingsBackend::Registry, root, keyPath);

    if (!m_valueName.IsEmpty()) {
        DWORD now = (DWORD)time(nullptr);
        switch (DecideCheckTiming(m_store.ReadNumber(m_valueName, 0), now)) {
        case CheckTiming::ResetOnly:
            m_store.WriteNumber(m_valueName, 0);
            return;
        case CheckTiming::Skip:
            return;
        case CheckTiming::Check:
            // Stored before the check runs: a failed check waits its seven days too.
            m_store.WriteNumber(m_valueName, now);
            break;
        }
    }
    m_updateMessage = RegisterWindowMessageW(L"_C_AutoUpdate");
    m_hook.Attach(owner, HookProc, this);
    if (!(options & UpdateOptions::NoWorker)) m_worker.Start(CheckRoutine, this, 0);
}

void AutoUpdate::Stop()
{
    if (m_worker.Running()) m_worker.Wait(0);
    m_hook.Detach();
}

void AutoUpdate::Shutdown()
{
    InterlockedExchange(&m_ending, 1);
    m_http.Cancel();
    ULONGLONG start = TickCount64();
    while (m_worker.Running() && !m_worker.Wait(ShutdownPoll)) {
        if (TickCount64() - start < ShutdownWait) continue;
        // Files are being moved or put back: that ends soon, and it must end whole.
        if (InterlockedCompareExchange(&m_phase, PhaseEnded, PhaseWaiting) != PhaseWaiting) continue;
        // The system's internet library did not let go of the call (closing its handles
        // ends a blocked call on Windows, not always elsewhere). The process is ending:
        // end the thread, and keep the library it was inside of loaded.
        LoadLibraryW(L"wininet.dll");  // a reference that is never given back
        m_worker.Stop();
        // It waited on a download of its installation: what that had done goes back.
        if (m_installation) m_installation->RollBack();
        break;
    }
    m_hook.Detach();
}

void AutoUpdate::BeginWait()
{
    InterlockedExchange(&m_phase, PhaseWaiting);
}

void AutoUpdate::EndWait()
{
    if (InterlockedCompareExchange(&m_phase, PhaseFiles, PhaseWaiting) == PhaseWaiting) return;
    // Shutdown has taken this thread over: it ends it and puts the files back itself.
    for (;;) Sleep(INFINITE);
}

DWORD AutoUpdate::CheckRoutine(void* self, UINT_PTR)
{
    static_cast<AutoUpdate*>(self)->Check();
    return 0;
}

int AutoUpdate::HookProc(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result, void* context)
{
    AutoUpdate* self = static_cast<AutoUpdate*>(context);
    if (self->m_updateMessage && message == self->m_updateMessage) {
        *result = self->Ask(wParam);
        return 1;
    }
    if (message == WM_HELP && self->m_questionShowing) {
        if (!self->m_helpAddress.IsEmpty())
            ShellExecuteFile(self->m_helpAddress, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
        *result = 1;
        return 1;
    }
    return 0;
}

LRESULT AutoUpdate::Ask(WPARAM question)
{
    if (m_questionShowing || Ending()) return 0;  // never two questions at once, none at the end
    UINT type = MB_YESNO | MB_ICONQUESTION;
    const wchar_t* text = m_restartText;
    if (question == UpdateQuestion::Notice) {
        text = m_noticeText;
        type = MB_OK | MB_ICONWARNING;
    } else if (question == UpdateQuestion::UpdateNow) {
        text = m_infoText;
        if (!m_helpAddress.IsEmpty()) type |= MB_HELP;
    }
    m_questionShowing = 1;
    int answer = MessageBoxW(m_owner, text, m_application, type);
    m_questionShowing = 0;
    return answer == IDYES ? 1 : 0;
}

int AutoUpdate::LocalisedText(XmlDocument& document, const wchar_t* path, const wchar_t* language, XmlNode context,
                              WideString& text)
{
    WideString localPath, raw;
    localPath.Format(L"%s\\%s", path, language);
    if (!document.GetValue(localPath, raw, context)) {
        localPath.Format(L"%s\\en", path);
        if (!document.GetValue(localPath, raw, context)) return 0;
    }
    DecodeLocalisedText(raw, text);
    return 1;
}

void AutoUpdate::ReadFileEntries(XmlDocument& document, XmlNode context, std::vector<UpdateFileEntry>& entries)
{
    entries.clear();
    EntryCollector collector = {&entries};
    document.ForEachChild(L"update\\files", CollectEntry, &collector, context);
}

void AutoUpdate::Check()
{
    InterlockedExchange(&m_phase, PhaseWaiting);
    m_installerPath.Clear();
    WideString versionText, identity, language, address, answer;
    unsigned major = 0, minor = 0;
    m_module.Load();
    m_module.GetString(L"FileVersion", versionText);
    ParseVersionPair(versionText, major, minor);
    MachineIdentity(identity, IdentityPurpose::UpdateQuery);
    UserLanguageName(language);
    BuildQueryAddress(m_queryAddress, m_options, versionText, identity, language, m_itemType, m_itemName, address);

    if (!m_http.FetchText(address, L"AutoUpdate", answer, AnswerByteLimit + 1, nullptr, ApproveAll, nullptr) ||
        (DWORD)answer.Length() > AnswerByteLimit)
        return;
    XmlDocument document;
    if (!document.Open(XmlOpenFlags::NoValidation | XmlOpenFlags::NoExternals) || !document.LoadText(answer)) return;
    XmlNode context = nullptr;
    if (m_options & UpdateOptions::Inventory) context = document.FindOrCreate(L"Larchmere\\Updates\\xml");

    WideString offered;
    unsigned offeredMajor = 0, offeredMinor = 0;
    m_application.Clear();
    document.GetValue(L"update\\application", m_application, context);
    bool usable = LocalisedText(document, L"update\\info", language, context, m_infoText) != 0;
    m_helpAddress.Clear();
    // Only a web address is opened: any other value could name a program to start.
    if (usable && document.GetValue(L"update\\help", m_helpAddress, context) && !IsWebAddress(m_helpAddress))
        m_helpAddress.Clear();
    usable = usable && document.GetValue(L"update\\version", offered, context) &&
             ParseVersionPair(offered, offeredMajor, offeredMinor) &&
             IsNewerVersion(major, minor, offeredMajor, offeredMinor);
    if (usable && !m_valueName.IsEmpty()) {
        WideString declinedName, declined;
        declinedName.Format(L"%sVersion", m_valueName.Text());
        if (m_store.ReadString(declinedName, declined) && declined.Equals(offered)) usable = false;
    }
    if (usable && !Ending()) {
        LRESULT agreed = SendMessageW(m_owner, m_updateMessage, UpdateQuestion::UpdateNow, 0);
        if (agreed == 1) {
            Install(document, context, language);
        } else if (!m_valueName.IsEmpty() && !Ending() && IsWindow(m_owner)) {
            WideString declinedName;
            declinedName.Format(L"%sVersion", m_valueName.Text());
            m_store.WriteString(declinedName, offered);
        }
    }
    if (context) context->Release();
    document.Close();
}

void AutoUpdate::Install(XmlDocument& document, XmlNode context, const wchar_t* language)
{
    std::vector<UpdateFileEntry> entries;
    ReadFileEntries(document, context, entries);
    wchar_t desktop[MAX_PATH] = {0};
    SpecialFolder(CSIDL_DESKTOP, desktop);
    // A signed program takes only programs signed by its own signer; a program without a
    // signature (a build of one's own) updates from anything the service offers.
    SignerIdentity signer;
    bool signedProgram = ReadFileSigner(m_module.FileName(), signer) != 0;
    EndWait();  // from here on files change, except while a download waits
    m_installation.reset();
    m_installSystem.reset(new (std::nothrow) SystemInstallSystem(m_http));
    m_trust.reset(new (std::nothrow) SignerTrust(signer));
    if (m_installSystem && m_trust)
        m_installation.reset(new (std::nothrow) UpdateInstallation(*m_installSystem, m_module.Folder(), desktop,
                                                                   signedProgram ? m_trust.get() : nullptr, this));
    if (!m_installation) {
        BeginWait();
        return;
    }
    UpdateInstallation& installation = *m_installation;
    int installed = installation.Run(entries, m_stepResult, m_installerPath);
    BeginWait();  // the folder is whole again, updated or as it was
    if (!installed) {
        if (!installation.Refused().empty()) {
            WideString text;
            text.Format(L"The update was not installed: \"%s\" does not carry the signature of this program's "
                        L"publisher. The program was not changed.",
                        installation.Refused().c_str());
            Tell(text);
        }
        return;
    }

    // Without a restart text in any language the new files take effect at the next start.
    if (!LocalisedText(document, L"update\\restart", language, context, m_restartText) || Ending()) return;
    if (!m_restartText.IsEmpty() && SendMessageW(m_owner, m_updateMessage, UpdateQuestion::RestartNow, 0) != 1)
        return;
    WideString started;
    if (!m_installerPath.IsEmpty()) {
        started = m_installerPath;
        if (!ShellExecuteFile(m_installerPath, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open", SEE_MASK_FLAG_NO_UI))
            started.Clear();
    } else {
        // The answer may name a program to start instead, but only one that this
        // installation put in place; anything else restarts the program itself.
        WideString execute, name;
        if (document.GetValue(L"update\\files\\execute", execute, context))
            ChooseRestartProgram(execute, installation.Installed(), name);
        if (name.IsEmpty())
            started = m_module.FileName();
        else
            InstalledPath(m_module.Folder(), name, started);
        if (!ShellExecuteFile(started, nullptr, m_module.Folder(), SW_SHOWDEFAULT, 0, L"open", SEE_MASK_FLAG_NO_UI))
            started.Clear();
    }
    if (started.IsEmpty()) {
        // Closing now would leave the user with no program running: this one keeps
        // running on the new files, which take effect at its next start.
        Tell(L"The update was installed, but the new version could not be started. It will run the next time "
             L"the program starts.");
        return;
    }
    PostMessageW(m_owner, WM_CLOSE, 0, 0);
}

void AutoUpdate::Tell(const wchar_t* text)
{
    if (Ending() || !IsWindow(m_owner)) return;
    m_noticeText = text;
    SendMessageW(m_owner, m_updateMessage, UpdateQuestion::Notice, 0);
}
